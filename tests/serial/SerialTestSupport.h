// What the serial tests drive: a pseudo-terminal or a virtual port standing in for
// COM n, and waits with deadlines.
#pragma once

#include <asm/termbits.h>

#include <cstdint>
#include <string>
#include <vector>

#include <ruzada/virtualport.h>

#include "SuiteHelpers.h"

namespace rz::test::serial {

using namespace rz::test::support;

// Monotonic nanoseconds, the clock the virtual ports stamp their line changes with.
inline int64_t NowNs()
{
    int64_t now = 0;
    QueryPerformanceCounter(&now);
    return now;
}
constexpr int64_t Ms(int64_t ms) { return ms * 1'000'000; }

// A pseudo-terminal: the port opens its slave end, the test holds the master.
class PseudoTerminal {
public:
    PseudoTerminal();
    ~PseudoTerminal() { Close(); }
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    // Makes COM `number` open this terminal.
    void MapTo(int number) const;
    void Send(const std::vector<uint8_t>& bytes) const;
    // What the port sent, until `count` bytes came or the time is up.
    std::vector<uint8_t> Receive(size_t count) const;
    // The slave's settings, read through the master.
    termios2 Settings() const;
    // Hangs the port's side up, as a pulled adapter does.
    void Close();

private:
    int m_master = -1;
    std::string m_slave;
};

// A virtual port under a name unique to the process.
class VirtualPort {
public:
    VirtualPort();
    ~VirtualPort() { VirtualPortDestroy(m_name.c_str()); }
    VirtualPort(const VirtualPort&) = delete;
    VirtualPort& operator=(const VirtualPort&) = delete;

    const char* Name() const { return m_name.c_str(); }
    void MapTo(int number) const;
    void Feed(const std::vector<uint8_t>& bytes) const { VirtualPortFeed(Name(), bytes.data(), bytes.size()); }
    std::vector<uint8_t> Drain(size_t count, std::chrono::milliseconds limit = 10s) const;
    // The line changes recorded from index `first` on.
    std::vector<VirtualLineChange> ChangesFrom(size_t first) const;

private:
    std::string m_name;
};

}  // namespace rz::test::serial
