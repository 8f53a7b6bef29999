// In-process serial ports: the device side for the communications core, and the
// far end (ruzada/virtualport.h) that a test drives.
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <map>
#include <mutex>
#include <vector>

#include "ruzada/virtualport.h"
#include "serial/SerialLine.h"

namespace rz::serial {
namespace {

constexpr size_t kOutputQueue = 4096;

int64_t Now()
{
    int64_t count = 0;
    QueryPerformanceCounter(&count);
    return count;
}

// A descriptor that polls readable exactly while a condition holds, so that any
// number of threads can wait on it without taking the wake-up from each other.
class Level {
public:
    Level() : m_fd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~Level()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    Level(const Level&) = delete;
    Level& operator=(const Level&) = delete;

    int Fd() const { return m_fd; }
    void Set(bool ready)
    {
        if (ready == m_ready)
            return;
        uint64_t value = 1;
        const ssize_t done = ready ? ::write(m_fd, &value, sizeof value) : ::read(m_fd, &value, sizeof value);
        m_ready = ready && done == sizeof value;
    }

private:
    int m_fd;
    bool m_ready = false;
};

// One virtual port: what both ends share.
struct Wire {
    std::mutex lock;
    std::deque<uint8_t> input;
    std::deque<uint8_t> output;
    unsigned breaks = 0;
    bool hungUp = false;
    bool open = false;
    bool rtsToggle = false;
    bool rtsRaised = false;
    std::vector<VirtualLineChange> changes;
    DCB settings{};
    Level inputReady;
    Level outputRoom;

    Wire()
    {
        settings.BaudRate = 9600;
        settings.ByteSize = 8;
        settings.XonChar = 17;
        settings.XoffChar = 19;
        UpdateLevels();
    }

    void Record(UINT line, bool raised)
    {
        if (line == VIRTUAL_LINE_RTS)
            rtsRaised = raised;
        changes.push_back(VirtualLineChange{line, raised ? TRUE : FALSE, Now()});
    }

    // RTS toggle: the driver's own changes, recorded when the level moves.
    void FollowOutput()
    {
        const bool sending = !output.empty();
        if (rtsToggle && rtsRaised != sending)
            Record(VIRTUAL_LINE_RTS, sending);
    }

    void UpdateLevels()
    {
        inputReady.Set(!input.empty() || breaks > 0 || hungUp);
        outputRoom.Set(output.size() < kOutputQueue || hungUp);
    }
};

class Registry {
public:
    static Registry& Instance()
    {
        static Registry registry;
        return registry;
    }

    std::shared_ptr<Wire> Find(const std::string& name)
    {
        std::lock_guard guard(m_lock);
        const auto found = m_wires.find(name);
        return found == m_wires.end() ? nullptr : found->second;
    }

    bool Add(const std::string& name)
    {
        std::lock_guard guard(m_lock);
        return m_wires.emplace(name, std::make_shared<Wire>()).second;
    }

    std::shared_ptr<Wire> Remove(const std::string& name)
    {
        std::lock_guard guard(m_lock);
        const auto found = m_wires.find(name);
        if (found == m_wires.end())
            return nullptr;
        std::shared_ptr<Wire> wire = found->second;
        m_wires.erase(found);
        return wire;
    }

private:
    std::mutex m_lock;
    std::map<std::string, std::shared_ptr<Wire>> m_wires;
};

class VirtualLine final : public SerialLine {
public:
    explicit VirtualLine(std::shared_ptr<Wire> wire) : m_wire(std::move(wire)) {}

    // Like a terminal, the port drops DTR and RTS when its last user closes it.
    ~VirtualLine() override
    {
        std::lock_guard guard(m_wire->lock);
        m_wire->open = false;
        if (m_wire->hungUp)
            return;
        m_wire->Record(VIRTUAL_LINE_DTR, false);
        m_wire->Record(VIRTUAL_LINE_RTS, false);
    }

    DWORD Configure(const DCB& dcb) override
    {
        std::lock_guard guard(m_wire->lock);
        if (m_wire->hungUp)
            return ERROR_INVALID_HANDLE;
        DCB& s = m_wire->settings;
        s.BaudRate = dcb.BaudRate;
        s.ByteSize = dcb.ByteSize;
        s.Parity = dcb.Parity;
        s.StopBits = dcb.StopBits;
        s.fParity = dcb.fParity;
        s.fOutxCtsFlow = dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE;
        s.fOutX = dcb.fOutX;
        s.fInX = dcb.fInX;
        s.XonChar = dcb.XonChar;
        s.XoffChar = dcb.XoffChar;
        return ERROR_SUCCESS;
    }

    DWORD ReadSettings(DCB& dcb) override
    {
        std::lock_guard guard(m_wire->lock);
        if (m_wire->hungUp)
            return ERROR_INVALID_HANDLE;
        const DCB& s = m_wire->settings;
        dcb.BaudRate = s.BaudRate;
        dcb.ByteSize = s.ByteSize;
        dcb.Parity = s.Parity;
        dcb.StopBits = s.StopBits;
        dcb.fParity = s.fParity;
        dcb.fOutxCtsFlow = s.fOutxCtsFlow;
        dcb.fOutX = s.fOutX;
        dcb.fInX = s.fInX;
        dcb.XonChar = s.XonChar;
        dcb.XoffChar = s.XoffChar;
        return ERROR_SUCCESS;
    }

    DWORD SetModemLine(ModemLine line, bool raised) override
    {
        return Change(line == ModemLine::Rts ? VIRTUAL_LINE_RTS : VIRTUAL_LINE_DTR, raised);
    }

    DWORD SetRtsToggle(bool on) override
    {
        std::lock_guard guard(m_wire->lock);
        if (m_wire->hungUp)
            return ERROR_INVALID_HANDLE;
        m_wire->rtsToggle = on;
        m_wire->FollowOutput();
        return ERROR_SUCCESS;
    }

    DWORD SetBreak(bool on) override { return Change(VIRTUAL_LINE_BREAK, on); }

    DWORD Receive(uint8_t* buffer, size_t size, size_t& got, LineMarks& marks) override
    {
        std::lock_guard guard(m_wire->lock);
        Wire& w = *m_wire;
        got = std::min(size, w.input.size());
        std::copy_n(w.input.begin(), got, buffer);
        w.input.erase(w.input.begin(), w.input.begin() + static_cast<std::ptrdiff_t>(got));
        marks.breakSeen = w.breaks > 0;
        w.breaks = 0;
        w.UpdateLevels();
        // What arrived before the hang-up is still delivered.
        return got == 0 && !marks.breakSeen && w.hungUp ? ERROR_INVALID_HANDLE : ERROR_SUCCESS;
    }

    DWORD Send(const uint8_t* data, size_t size, size_t& sent) override
    {
        std::lock_guard guard(m_wire->lock);
        Wire& w = *m_wire;
        sent = 0;
        if (w.hungUp)
            return ERROR_INVALID_HANDLE;
        sent = std::min(size, kOutputQueue - w.output.size());
        w.output.insert(w.output.end(), data, data + sent);
        w.FollowOutput();
        w.UpdateLevels();
        return ERROR_SUCCESS;
    }

    DWORD OutputQueued(DWORD& count) override
    {
        std::lock_guard guard(m_wire->lock);
        if (m_wire->hungUp)
            return ERROR_INVALID_HANDLE;
        count = static_cast<DWORD>(m_wire->output.size());
        return ERROR_SUCCESS;
    }

    DWORD Purge(bool input, bool output) override
    {
        std::lock_guard guard(m_wire->lock);
        Wire& w = *m_wire;
        if (w.hungUp)
            return ERROR_INVALID_HANDLE;
        if (input) {
            w.input.clear();
            w.breaks = 0;
        }
        if (output) {
            w.output.clear();
            w.FollowOutput();
        }
        w.UpdateLevels();
        return ERROR_SUCCESS;
    }

    pollfd PollTarget(Direction direction) const override
    {
        const Level& level = direction == Direction::Input ? m_wire->inputReady : m_wire->outputRoom;
        return pollfd{level.Fd(), POLLIN, 0};
    }

    bool Acknowledge(short) override
    {
        std::lock_guard guard(m_wire->lock);
        return !m_wire->hungUp;
    }

private:
    DWORD Change(UINT line, bool raised)
    {
        std::lock_guard guard(m_wire->lock);
        if (m_wire->hungUp)
            return ERROR_INVALID_HANDLE;
        m_wire->Record(line, raised);
        return ERROR_SUCCESS;
    }

    std::shared_ptr<Wire> m_wire;
};

std::unique_ptr<SerialLine> OpenVirtual(const std::string& device, DWORD& error)
{
    const std::shared_ptr<Wire> wire = Registry::Instance().Find(device.substr(sizeof "virtual:" - 1));
    if (!wire) {
        error = ERROR_FILE_NOT_FOUND;
        return nullptr;
    }
    std::lock_guard guard(wire->lock);
    if (wire->hungUp) {
        error = ERROR_FILE_NOT_FOUND;
        return nullptr;
    }
    if (wire->open) {
        error = ERROR_ACCESS_DENIED;
        return nullptr;
    }
    auto line = std::make_unique<VirtualLine>(wire);
    wire->open = true;
    // Opening a terminal raises DTR and RTS.
    wire->Record(VIRTUAL_LINE_DTR, true);
    wire->Record(VIRTUAL_LINE_RTS, true);
    error = ERROR_SUCCESS;
    return line;
}

// Runs `use` on the named port under its lock; `missing` when there is none.
template <class Result, class Use>
Result WithWire(const char* name, Result missing, Use&& use)
{
    const std::shared_ptr<Wire> wire = name ? Registry::Instance().Find(name) : nullptr;
    if (!wire) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return missing;
    }
    std::lock_guard guard(wire->lock);
    Result result = use(*wire);
    wire->UpdateLevels();
    return result;
}

}  // namespace

const SerialBackend g_VirtualBackend = {"virtual:", OpenVirtual};

}  // namespace rz::serial

using rz::serial::Registry;
using rz::serial::Wire;
using rz::serial::WithWire;

BOOL VirtualPortCreate(const char* name)
{
    if (!name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!Registry::Instance().Add(name)) {
        SetLastError(ERROR_ALREADY_ASSIGNED);
        return FALSE;
    }
    return TRUE;
}

BOOL VirtualPortDestroy(const char* name)
{
    const std::shared_ptr<Wire> wire = name ? Registry::Instance().Remove(name) : nullptr;
    if (!wire) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    std::lock_guard guard(wire->lock);
    wire->hungUp = true;
    wire->UpdateLevels();
    return TRUE;
}

BOOL VirtualPortHangUp(const char* name)
{
    return WithWire(name, FALSE, [](Wire& w) {
        w.hungUp = true;
        return TRUE;
    });
}

BOOL VirtualPortFeed(const char* name, const void* data, size_t size)
{
    if (!data && size > 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return WithWire(name, FALSE, [&](Wire& w) {
        const auto* bytes = static_cast<const uint8_t*>(data);
        w.input.insert(w.input.end(), bytes, bytes + size);
        return TRUE;
    });
}

BOOL VirtualPortSendBreak(const char* name)
{
    return WithWire(name, FALSE, [](Wire& w) {
        ++w.breaks;
        return TRUE;
    });
}

size_t VirtualPortDrain(const char* name, void* buffer, size_t size)
{
    return WithWire(name, size_t{0}, [&](Wire& w) {
        const size_t taken = std::min(size, w.output.size());
        if (buffer)
            std::copy_n(w.output.begin(), taken, static_cast<uint8_t*>(buffer));
        w.output.erase(w.output.begin(), w.output.begin() + static_cast<std::ptrdiff_t>(taken));
        w.FollowOutput();
        return taken;
    });
}

size_t VirtualPortPending(const char* name)
{
    return WithWire(name, size_t{0}, [](Wire& w) { return w.output.size(); });
}

BOOL VirtualPortIsOpen(const char* name)
{
    return WithWire(name, FALSE, [](Wire& w) { return w.open ? TRUE : FALSE; });
}

size_t VirtualPortLineChanges(const char* name, VirtualLineChange* changes, size_t capacity)
{
    return WithWire(name, size_t{0}, [&](Wire& w) {
        if (changes)
            std::copy_n(w.changes.begin(), std::min(capacity, w.changes.size()), changes);
        return w.changes.size();
    });
}
