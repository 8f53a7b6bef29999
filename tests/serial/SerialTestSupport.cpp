#include "SerialTestSupport.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <stdexcept>

namespace rz::test::serial {

PseudoTerminal::PseudoTerminal()
{
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0)
        throw std::runtime_error("no pseudo-terminal");
    m_slave = ptsname(m_master);
}

void PseudoTerminal::MapTo(int number) const
{
    setenv(("RUZADA_COM" + std::to_string(number)).c_str(), m_slave.c_str(), 1);
}

void PseudoTerminal::Send(const std::vector<uint8_t>& bytes) const
{
    size_t done = 0;
    const bool sent = WaitUntil([&] {
        const ssize_t n = write(m_master, bytes.data() + done, bytes.size() - done);
        done += n > 0 ? static_cast<size_t>(n) : 0;
        return done == bytes.size();
    });
    if (!sent)
        throw std::runtime_error("pseudo-terminal does not take bytes");
}

std::vector<uint8_t> PseudoTerminal::Receive(size_t count) const
{
    std::vector<uint8_t> got;
    uint8_t chunk[4096];
    WaitUntil([&] {
        const ssize_t n = read(m_master, chunk, sizeof chunk);
        if (n > 0)
            got.insert(got.end(), chunk, chunk + n);
        return got.size() >= count;
    });
    return got;
}

termios2 PseudoTerminal::Settings() const
{
    termios2 t{};
    if (ioctl(m_master, TCGETS2, &t) != 0)
        throw std::runtime_error("TCGETS2 failed");
    return t;
}

void PseudoTerminal::Close()
{
    if (m_master >= 0)
        close(m_master);
    m_master = -1;
}

VirtualPort::VirtualPort()
{
    static std::atomic<int> serial{0};
    m_name = "test" + std::to_string(getpid()) + "-" + std::to_string(++serial);
    if (!VirtualPortCreate(m_name.c_str()))
        throw std::runtime_error("virtual port not created");
}

void VirtualPort::MapTo(int number) const
{
    setenv(("RUZADA_COM" + std::to_string(number)).c_str(), ("virtual:" + m_name).c_str(), 1);
}

std::vector<uint8_t> VirtualPort::Drain(size_t count, std::chrono::milliseconds limit) const
{
    std::vector<uint8_t> got;
    uint8_t chunk[4096];
    WaitUntil(
        [&] {
            const size_t n = VirtualPortDrain(Name(), chunk, std::min(sizeof chunk, count - got.size()));
            got.insert(got.end(), chunk, chunk + n);
            return got.size() >= count;
        },
        limit);
    return got;
}

std::vector<VirtualLineChange> VirtualPort::ChangesFrom(size_t first) const
{
    std::vector<VirtualLineChange> all(VirtualPortLineChanges(m_name.c_str(), nullptr, 0));
    all.resize(std::min(all.size(), VirtualPortLineChanges(m_name.c_str(), all.data(), all.size())));
    if (first >= all.size())
        return {};
    return {all.begin() + static_cast<std::ptrdiff_t>(first), all.end()};
}

}  // namespace rz::test::serial
