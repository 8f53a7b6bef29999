// Terminal devices through termios2, so that any whole rate (BOTHER) and five
// data bits are set the same way as the usual ones. <termios.h> is not included:
// its struct termios clashes with the kernel's, and every call here is an ioctl.
#include <asm/termbits.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

#include "serial/SerialLine.h"

namespace rz::serial {
namespace {

constexpr uint8_t kMark = 0xFF;

// A vanished device: the "invalid handle" of a Windows port whose adapter went.
DWORD DeviceError(int err)
{
    return err == EIO || err == ENXIO || err == ENODEV ? ERROR_INVALID_HANDLE : ErrnoToWinError(err);
}

// Undoes PARMRK marking, which is what lets a break be told from a received 0:
// "\377\377" is the byte 0xFF, "\377\0\0" a break, "\377\0c" the byte c that
// arrived with a parity or framing error. A sequence may span two reads.
class MarkDecoder {
public:
    size_t Decode(const uint8_t* in, size_t n, uint8_t* out, LineMarks& marks)
    {
        size_t kept = 0;
        for (size_t i = 0; i < n; ++i) {
            const uint8_t c = in[i];
            switch (m_state) {
                case State::Plain:
                    if (c == kMark)
                        m_state = State::Marked;
                    else
                        out[kept++] = c;
                    break;
                case State::Marked:
                    if (c == kMark) {
                        out[kept++] = c;
                        m_state = State::Plain;
                    } else {
                        m_state = State::Flagged;
                    }
                    break;
                case State::Flagged:
                    if (c == 0) {
                        marks.breakSeen = true;
                    } else {
                        marks.errorSeen = true;
                        out[kept++] = c;
                    }
                    m_state = State::Plain;
                    break;
            }
        }
        return kept;
    }

    void Reset() { m_state = State::Plain; }

private:
    enum class State { Plain, Marked, Flagged };
    State m_state = State::Plain;
};

class TermiosLine final : public SerialLine {
public:
    explicit TermiosLine(int fd) : m_fd(fd) {}
    ~TermiosLine() override { close(m_fd); }

    DWORD MakeRaw()
    {
        termios2 t;
        if (ioctl(m_fd, TCGETS2, &t) != 0)
            return DeviceError(errno);
        t.c_iflag = PARMRK;
        t.c_oflag = 0;
        t.c_lflag = 0;
        t.c_cflag |= CREAD | CLOCAL;
        t.c_cc[VMIN] = 0;
        t.c_cc[VTIME] = 0;
        return Store(t);
    }

    DWORD Configure(const DCB& dcb) override
    {
        termios2 t;
        if (ioctl(m_fd, TCGETS2, &t) != 0)
            return DeviceError(errno);
        t.c_cflag &= ~(CBAUD | CIBAUD | CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS);
        t.c_cflag |= BOTHER | CREAD | CLOCAL | SizeFlag(dcb.ByteSize);
        t.c_ispeed = dcb.BaudRate;
        t.c_ospeed = dcb.BaudRate;
        if (dcb.StopBits != ONESTOPBIT)
            t.c_cflag |= CSTOPB;
        if (dcb.Parity != NOPARITY)
            t.c_cflag |= PARENB;
        if (dcb.Parity == ODDPARITY || dcb.Parity == MARKPARITY)
            t.c_cflag |= PARODD;
        if (dcb.Parity == MARKPARITY || dcb.Parity == SPACEPARITY)
            t.c_cflag |= CMSPAR;
        if (dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE)
            t.c_cflag |= CRTSCTS;
        t.c_iflag = PARMRK;
        if (dcb.fParity)
            t.c_iflag |= INPCK;
        if (dcb.fOutX)
            t.c_iflag |= IXON;
        if (dcb.fInX)
            t.c_iflag |= IXOFF;
        t.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
        t.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
        return Store(t);
    }

    DWORD ReadSettings(DCB& dcb) override
    {
        termios2 t;
        if (ioctl(m_fd, TCGETS2, &t) != 0)
            return DeviceError(errno);
        // The kernel keeps c_ospeed as a number for Bxxx codes too.
        dcb.BaudRate = t.c_ospeed;
        dcb.ByteSize = SizeBits(t.c_cflag & CSIZE);
        dcb.StopBits = !(t.c_cflag & CSTOPB) ? ONESTOPBIT : dcb.ByteSize == 5 ? ONE5STOPBITS : TWOSTOPBITS;
        dcb.Parity = ParityCode(t.c_cflag);
        dcb.fParity = (t.c_iflag & INPCK) != 0;
        dcb.fOutxCtsFlow = (t.c_cflag & CRTSCTS) != 0;
        dcb.fOutX = (t.c_iflag & IXON) != 0;
        dcb.fInX = (t.c_iflag & IXOFF) != 0;
        dcb.XonChar = static_cast<char>(t.c_cc[VSTART]);
        dcb.XoffChar = static_cast<char>(t.c_cc[VSTOP]);
        return ERROR_SUCCESS;
    }

    DWORD SetModemLine(ModemLine line, bool raised) override
    {
        const int bits = line == ModemLine::Rts ? TIOCM_RTS : TIOCM_DTR;
        return Control(raised ? TIOCMBIS : TIOCMBIC, &bits);
    }

    DWORD SetRtsToggle(bool on) override
    {
        serial_rs485 rs485{};
        if (on)
            rs485.flags = SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
        return Control(TIOCSRS485, &rs485);
    }

    DWORD SetBreak(bool on) override { return Control(on ? TIOCSBRK : TIOCCBRK, nullptr); }

    DWORD Receive(uint8_t* buffer, size_t size, size_t& got, LineMarks& marks) override
    {
        got = 0;
        // Marked bytes shrink when decoded, so they are decoded in place.
        const ssize_t n = ::read(m_fd, buffer, size);
        if (n < 0)
            return errno == EAGAIN || errno == EINTR ? ERROR_SUCCESS : DeviceError(errno);
        got = m_marks.Decode(buffer, static_cast<size_t>(n), buffer, marks);
        return ERROR_SUCCESS;
    }

    DWORD Send(const uint8_t* data, size_t size, size_t& sent) override
    {
        sent = 0;
        const ssize_t n = ::write(m_fd, data, size);
        if (n < 0)
            return errno == EAGAIN || errno == EINTR ? ERROR_SUCCESS : DeviceError(errno);
        sent = static_cast<size_t>(n);
        return ERROR_SUCCESS;
    }

    DWORD OutputQueued(DWORD& count) override
    {
        int queued = 0;
        if (ioctl(m_fd, TIOCOUTQ, &queued) != 0)
            return DeviceError(errno);
        count = static_cast<DWORD>(queued);
        // The driver's queue can be empty while the UART still shifts out its
        // FIFO; where the driver tells, count that as one byte still going.
        unsigned int status = 0;
        if (count == 0 && ioctl(m_fd, TIOCSERGETLSR, &status) == 0 && !(status & TIOCSER_TEMT))
            count = 1;
        return ERROR_SUCCESS;
    }

    DWORD Purge(bool input, bool output) override
    {
        const int queue = input && output ? TCIOFLUSH : input ? TCIFLUSH : TCOFLUSH;
        if (input)
            m_marks.Reset();
        return ioctl(m_fd, TCFLSH, queue) == 0 ? ERROR_SUCCESS : DeviceError(errno);
    }

    pollfd PollTarget(Direction direction) const override
    {
        return pollfd{m_fd, static_cast<short>(direction == Direction::Input ? POLLIN : POLLOUT), 0};
    }

    bool Acknowledge(short revents) override { return !(revents & (POLLHUP | POLLERR | POLLNVAL)); }

private:
    DWORD Store(const termios2& t) { return ioctl(m_fd, TCSETS2, &t) == 0 ? ERROR_SUCCESS : DeviceError(errno); }

    DWORD Control(unsigned long request, const void* argument)
    {
        return ioctl(m_fd, request, argument) == 0 ? ERROR_SUCCESS : DeviceError(errno);
    }

    static tcflag_t SizeFlag(BYTE bits)
    {
        switch (bits) {
            case 5:
                return CS5;
            case 6:
                return CS6;
            case 7:
                return CS7;
            default:
                return CS8;
        }
    }

    static BYTE SizeBits(tcflag_t size)
    {
        switch (size) {
            case CS5:
                return 5;
            case CS6:
                return 6;
            case CS7:
                return 7;
            default:
                return 8;
        }
    }

    static BYTE ParityCode(tcflag_t cflag)
    {
        if (!(cflag & PARENB))
            return NOPARITY;
        const bool odd = cflag & PARODD;
        if (cflag & CMSPAR)
            return odd ? MARKPARITY : SPACEPARITY;
        return odd ? ODDPARITY : EVENPARITY;
    }

    const int m_fd;
    MarkDecoder m_marks;
};

std::unique_ptr<SerialLine> OpenTerminal(const std::string& path, DWORD& error)
{
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = errno == EBUSY ? ERROR_ACCESS_DENIED : ErrnoToWinError(errno);
        return nullptr;
    }
    auto line = std::make_unique<TermiosLine>(fd);
    // One user per port, as on Windows; the lock goes with the descriptor.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = errno == EWOULDBLOCK ? ERROR_ACCESS_DENIED : ErrnoToWinError(errno);
        return nullptr;
    }
    // Keeps other programs out too, except those with root's rights; a device
    // that does not offer it is still ours through the lock.
    ioctl(fd, TIOCEXCL);
    error = line->MakeRaw();
    if (error == ERROR_NOT_SUPPORTED)
        error = ERROR_FILE_NOT_FOUND;  // a path that is no terminal: no port there
    return error == ERROR_SUCCESS ? std::move(line) : nullptr;
}

}  // namespace

const SerialBackend g_TermiosBackend = {"", OpenTerminal};

}  // namespace rz::serial
