#include "serial/CommPort.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace rz::serial {
namespace {

// What Windows drivers buffer each way.
constexpr size_t kInputQueue = 4096;
// How often a wait looks at the output queue while sent bytes are still going.
constexpr int kDrainCheckMs = 5;

using Clock = std::chrono::steady_clock;

bool ValidState(const DCB& dcb)
{
    if (dcb.DCBlength != sizeof(DCB) || dcb.BaudRate == 0 || dcb.ByteSize < 5 || dcb.ByteSize > 8 ||
        dcb.Parity > SPACEPARITY || dcb.fDtrControl > DTR_CONTROL_HANDSHAKE)
        return false;
    // What a UART can frame: one and a half stop bits only with five data bits,
    // two only with more.
    switch (dcb.StopBits) {
        case ONESTOPBIT:
            return true;
        case ONE5STOPBITS:
            return dcb.ByteSize == 5;
        case TWOSTOPBITS:
            return dcb.ByteSize > 5;
        default:
            return false;
    }
}

}  // namespace

// A caller blocked in WaitEvents or Write, and the descriptor that releases it.
class CommPort::Waiter {
public:
    Waiter(CommPort& port, bool eventWait)
        : m_port(port), m_fd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), m_eventWait(eventWait)
    {
        std::lock_guard guard(m_port.m_lock);
        m_maskChanges = m_port.m_maskChanges;
        m_port.m_waiters.push_back(this);
    }
    ~Waiter()
    {
        {
            std::lock_guard guard(m_port.m_lock);
            std::erase(m_port.m_waiters, this);
        }
        if (m_fd >= 0)
            close(m_fd);
    }
    Waiter(const Waiter&) = delete;
    Waiter& operator=(const Waiter&) = delete;

    int Fd() const { return m_fd; }
    bool EventWait() const { return m_eventWait; }
    bool MaskChanged() const { return m_maskChanges != m_port.m_maskChanges; }
    void Wake() const
    {
        const uint64_t one = 1;
        if (m_fd >= 0 && ::write(m_fd, &one, sizeof one) < 0)
            return;  // the counter is already non-zero: the waiter is woken
    }

private:
    CommPort& m_port;
    const int m_fd;
    const bool m_eventWait;
    unsigned m_maskChanges = 0;
};

CommPort::CommPort(std::unique_ptr<SerialLine> line) : m_line(std::move(line))
{
    m_dcb.DCBlength = sizeof(DCB);
    m_dcb.fBinary = 1;
    m_dcb.fDtrControl = DTR_CONTROL_ENABLE;
    m_dcb.fRtsControl = RTS_CONTROL_ENABLE;
    m_dcb.XonLim = 2048;
    m_dcb.XoffLim = 512;
    m_input.reserve(kInputQueue);
}

CommPort::~CommPort() = default;

DWORD CommPort::Usable() const { return m_shut || (m_gone && m_input.empty()) ? ERROR_INVALID_HANDLE : ERROR_SUCCESS; }

DWORD CommPort::GetState(DCB& dcb)
{
    std::lock_guard guard(m_lock);
    if (const DWORD error = Usable())
        return error;
    DCB current = m_dcb;
    if (const DWORD error = m_line->ReadSettings(current))
        return error;
    dcb = current;
    return ERROR_SUCCESS;
}

DWORD CommPort::SetState(const DCB& dcb)
{
    if (!ValidState(dcb))
        return ERROR_INVALID_PARAMETER;
    std::lock_guard guard(m_lock);
    if (const DWORD error = Usable())
        return error;
    if (const DWORD error = m_line->Configure(dcb))
        return error;
    const bool wasToggling = m_dcb.fRtsControl == RTS_CONTROL_TOGGLE;
    m_dcb = dcb;
    // Line controls are best effort: a device without modem lines has none to set.
    m_line->SetModemLine(ModemLine::Dtr, dcb.fDtrControl != DTR_CONTROL_DISABLE);
    if (dcb.fRtsControl == RTS_CONTROL_TOGGLE) {
        m_line->SetRtsToggle(true);
    } else {
        if (wasToggling)
            m_line->SetRtsToggle(false);
        if (dcb.fRtsControl != RTS_CONTROL_HANDSHAKE)
            m_line->SetModemLine(ModemLine::Rts, dcb.fRtsControl == RTS_CONTROL_ENABLE);
    }
    return ERROR_SUCCESS;
}

DWORD CommPort::SetMask(DWORD mask)
{
    std::lock_guard guard(m_lock);
    if (const DWORD error = Usable())
        return error;
    m_mask = mask;
    ++m_maskChanges;
    Release(true);
    return ERROR_SUCCESS;
}

DWORD CommPort::Escape(DWORD function)
{
    if (function < SETRTS || function > CLRDTR)
        return ERROR_INVALID_PARAMETER;
    std::lock_guard guard(m_lock);
    if (const DWORD error = Usable())
        return error;
    const ModemLine line = function == SETRTS || function == CLRRTS ? ModemLine::Rts : ModemLine::Dtr;
    return m_line->SetModemLine(line, function == SETRTS || function == SETDTR);
}

DWORD CommPort::SetBreak(bool on)
{
    std::lock_guard guard(m_lock);
    if (const DWORD error = Usable())
        return error;
    return m_line->SetBreak(on);
}

DWORD CommPort::Purge(DWORD flags)
{
    if (flags & ~(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR))
        return ERROR_INVALID_PARAMETER;
    const bool input = flags & (PURGE_RXABORT | PURGE_RXCLEAR);
    const bool output = flags & (PURGE_TXABORT | PURGE_TXCLEAR);
    std::lock_guard guard(m_lock);
    if (const DWORD error = Usable())
        return error;
    if (input) {
        m_input.clear();
        m_breakPending = false;
    }
    if (output)
        m_sending = false;
    return input || output ? m_line->Purge(input, output) : ERROR_SUCCESS;
}

DWORD CommPort::ClearError(DWORD* errors, COMSTAT* status)
{
    std::lock_guard guard(m_lock);
    Pull();
    if (const DWORD error = Usable())
        return error;
    DWORD queued = 0;
    if (const DWORD error = m_line->OutputQueued(queued))
        return error;
    if (errors)
        *errors = m_errors;
    m_errors = 0;
    if (status)
        status->cbOutQue = queued;
    return ERROR_SUCCESS;
}

DWORD CommPort::Read(uint8_t* buffer, DWORD size, DWORD& read)
{
    read = 0;
    std::lock_guard guard(m_lock);
    Pull();
    if (const DWORD error = Usable())
        return error;
    const size_t taken = std::min<size_t>(size, m_input.size());
    std::copy_n(m_input.begin(), taken, buffer);
    m_input.erase(m_input.begin(), m_input.begin() + static_cast<std::ptrdiff_t>(taken));
    read = static_cast<DWORD>(taken);
    return ERROR_SUCCESS;
}

DWORD CommPort::Write(const uint8_t* data, DWORD size, DWORD& written, KernelObject* stop)
{
    written = 0;
    Waiter waiter(*this, false);
    for (;;) {
        {
            std::lock_guard guard(m_lock);
            if (m_shut || m_gone)
                return ERROR_INVALID_HANDLE;
            size_t sent = 0;
            const DWORD error = m_line->Send(data + written, size - written, sent);
            if (error == ERROR_INVALID_HANDLE)
                m_gone = true;
            if (error)
                return error;
            m_sending = m_sending || sent > 0;
            written += static_cast<DWORD>(sent);
            if (written == size)
                return ERROR_SUCCESS;
        }
        if (Poll(waiter, stop, Direction::Output, true, -1) == Wake::Stop)
            return ERROR_OPERATION_ABORTED;
    }
}

DWORD CommPort::WaitEvents(KernelObject* stop, DWORD milliseconds, DWORD& events, DWORD& error)
{
    events = 0;
    const bool forever = milliseconds == INFINITE;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(forever ? 0 : milliseconds);
    Waiter waiter(*this, true);
    for (;;) {
        int timeoutMs = -1;
        bool watchLine = false;
        {
            std::lock_guard guard(m_lock);
            Pull();
            if ((error = Usable()))
                return WAIT_FAILED;
            events = Pending();
            if (events || waiter.MaskChanged())
                return WAIT_OBJECT_0 + 1;
            if (!forever) {
                const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
                timeoutMs = static_cast<int>(std::max<int64_t>(0, left.count()));
            }
            if (m_sending)
                timeoutMs = timeoutMs < 0 ? kDrainCheckMs : std::min(timeoutMs, kDrainCheckMs);
            watchLine = m_input.size() < kInputQueue;
        }
        const Wake wake = Poll(waiter, stop, Direction::Input, watchLine, timeoutMs);
        if (wake == Wake::Stop)
            return WAIT_OBJECT_0;
        if (wake == Wake::Failed) {
            error = ErrnoToWinError(errno);
            return WAIT_FAILED;
        }
        if (wake == Wake::Timeout && !forever && Clock::now() >= deadline)
            return WAIT_TIMEOUT;
    }
}

void CommPort::Shut()
{
    std::lock_guard guard(m_lock);
    m_shut = true;
    Release(false);
}

// Moves what the device has received into the receive buffer. Called locked.
void CommPort::Pull()
{
    if (m_shut || m_gone || m_input.size() >= kInputQueue)
        return;
    uint8_t chunk[kInputQueue];
    size_t got = 0;
    LineMarks marks;
    const DWORD error = m_line->Receive(chunk, kInputQueue - m_input.size(), got, marks);
    if (error == ERROR_INVALID_HANDLE)
        m_gone = true;
    m_input.insert(m_input.end(), chunk, chunk + got);
    if (marks.breakSeen) {
        m_breakPending = true;
        m_errors |= CE_BREAK;
    }
    if (marks.errorSeen)
        m_errors |= CE_RXPARITY;
}

// The events of the mask that have happened since the last report. Called locked.
DWORD CommPort::Pending()
{
    DWORD found = 0;
    if (!m_input.empty())
        found |= m_mask & EV_RXCHAR;
    if (m_breakPending) {
        m_breakPending = false;
        found |= m_mask & EV_BREAK;
    }
    DWORD queued = 0;
    if (m_sending && m_line->OutputQueued(queued) == ERROR_SUCCESS && queued == 0) {
        m_sending = false;
        found |= m_mask & EV_TXEMPTY;
    }
    return found;
}

CommPort::Wake CommPort::Poll(Waiter& waiter, KernelObject* stop, Direction direction, bool watchLine, int timeoutMs)
{
    pollfd fds[3] = {{stop ? stop->PollFd() : -1, POLLIN, 0}, {waiter.Fd(), POLLIN, 0}, {-1, 0, 0}};
    if (watchLine) {
        std::lock_guard guard(m_lock);
        fds[2] = m_line->PollTarget(direction);
    }
    const int ready = poll(fds, 3, timeoutMs);
    if (ready < 0)
        return errno == EINTR ? Wake::Timeout : Wake::Failed;
    if (ready == 0)
        return Wake::Timeout;
    // An auto-reset stop may have been taken by another waiter: look again.
    if (fds[0].revents)
        return stop->ConsumeSignal() ? Wake::Stop : Wake::Line;
    if (fds[1].revents) {
        uint64_t count = 0;
        if (::read(waiter.Fd(), &count, sizeof count) < 0 && errno != EAGAIN)
            return Wake::Failed;
        return Wake::Released;
    }
    std::lock_guard guard(m_lock);
    if (!m_line->Acknowledge(fds[2].revents)) {
        // What arrived before the device went is still delivered.
        Pull();
        m_gone = true;
    }
    return Wake::Line;
}

// Called locked.
void CommPort::Release(bool eventWaitersOnly)
{
    for (const Waiter* waiter : m_waiters)
        if (!eventWaitersOnly || waiter->EventWait())
            waiter->Wake();
}

}  // namespace rz::serial
