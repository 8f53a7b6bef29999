// Ports on pseudo-terminals: real termios devices for data, speed and hang-up.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include <RUZada.h>
#include <ruzada/kernel.h>

#include "SerialTestSupport.h"
#include "serial/COMPort.h"

namespace {

using namespace rz::test::serial;

std::vector<uint8_t> AllByteValues()
{
    std::vector<uint8_t> bytes(256);
    std::iota(bytes.begin(), bytes.end(), 0);
    return bytes;
}

std::vector<uint8_t> TakeReceived(CCOMPort& port, size_t count)
{
    EXPECT_TRUE(WaitUntil([&] { return static_cast<size_t>(port.size()) >= count; }))
        << "received " << port.size() << " of " << count;
    std::vector<uint8_t> bytes(static_cast<size_t>(port.size()));
    bytes.resize(static_cast<size_t>(port.read(bytes.data(), static_cast<int>(bytes.size()))));
    return bytes;
}

class TerminalPort : public ::testing::Test {
protected:
    // Opens COM `number` on the terminal with the given data bits and rate.
    void Open(int number, int hamMode, unsigned char byteSize = 8, unsigned long baud = 9600)
    {
        terminal.MapTo(number);
        port->SetHAMMode(hamMode);
        port->SetPort(number, 0, 0, byteSize, baud);
        ASSERT_EQ(port->Activate(1), 1);
        ASSERT_EQ(GetLastError(), 0u);
        ASSERT_TRUE(port->IsOpen());
    }

    PseudoTerminal terminal;
    std::unique_ptr<CCOMPort> port = std::make_unique<CCOMPort>();
};

// A burst of every byte value, 0x00 included, sent right after DGOpenComPort
// comes out of DGReadComPort whole; DGWriteComPort sends every value too. The
// exports open in HAM mode, whose line settings ask to discard received nulls.
TEST(TerminalPortBytes, EveryByteValuePassesBothWaysThroughTheExports)
{
    PseudoTerminal line;
    line.MapTo(7);
    CCOMPort* port = DGOpenComPort(7, 0, 0, 8, 9600);
    ASSERT_NE(port, nullptr);
    line.Send(AllByteValues());
    std::vector<uint8_t> got;
    EXPECT_TRUE(WaitUntil([&] {
        unsigned char chunk[512];
        const int n = DGReadComPort(port, chunk, sizeof chunk);
        got.insert(got.end(), chunk, chunk + std::max(n, 0));
        return got.size() >= 256;
    }));
    EXPECT_EQ(got, AllByteValues());
    const std::vector<uint8_t> out = AllByteValues();
    DGWriteComPort(port, out.data(), static_cast<int>(out.size()));
    EXPECT_EQ(line.Receive(256), AllByteValues());
    DGCloseComPort(port);
}

TEST_F(TerminalPort, FiveBitPortRunsAtTheTeleprinterRateThroughBotherAndDecodesBaudot)
{
    Open(13, 1, 5, 45);
    const termios2 settings = terminal.Settings();
    EXPECT_EQ(settings.c_cflag & CBAUD, static_cast<tcflag_t>(BOTHER));
    EXPECT_EQ(settings.c_ospeed, 45u);
    EXPECT_EQ(settings.c_ispeed, 45u);
    EXPECT_EQ(settings.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(settings.c_cflag & CRTSCTS, 0u) << "no hardware handshake unless asked";
    terminal.Send({31, 5, 9, 27, 5, 9});
    EXPECT_EQ(TakeReceived(*port, 4), (std::vector<uint8_t>{'S', 'D', '\'', 0xA4}));
}

TEST_F(TerminalPort, ALargeWriteToAPortNobodyReadsNeitherBlocksNorLosesThePort)
{
    Open(16, 1);
    std::vector<uint8_t> bulk(100 * 1024, 'x');
    const auto start = std::chrono::steady_clock::now();
    port->write(bulk.data(), static_cast<int>(bulk.size()));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
    // The writer takes what the terminal holds, then waits for room.
    ASSERT_TRUE(WaitUntil([&] { return port->outsize() < 100 * 1024; }));
    EXPECT_EQ(port->PortActive(), 1);
    terminal.Send({'o', 'k'});
    EXPECT_EQ(TakeReceived(*port, 2), (std::vector<uint8_t>{'o', 'k'}));
    const auto closing = std::chrono::steady_clock::now();
    EXPECT_EQ(port->Activate(0), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - closing, 2s);
    EXPECT_EQ(port->PortActive(), 0);
}

// A pulled adapter: the far end closes in the middle of a write. The reader ends
// the port, what came before stays readable, and no thread or descriptor is left.
TEST_F(TerminalPort, DeviceVanishingInTheMiddleOfAWriteEndsThePortAndLeaksNothing)
{
    const int descriptors = OpenDescriptorCount();
    const int threads = ThreadCount();
    Open(17, 0);
    terminal.Send({'h', 'i'});
    ASSERT_TRUE(WaitUntil([&] { return port->size() == 2; }));
    std::vector<uint8_t> bulk(64 * 1024, 'y');
    port->write(bulk.data(), static_cast<int>(bulk.size()));
    ASSERT_TRUE(WaitUntil([&] { return port->outsize() < 64 * 1024; }));
    terminal.Close();
    EXPECT_TRUE(WaitUntil([&] { return port->PortActive() == 0; }));
    EXPECT_FALSE(port->IsOpen());
    EXPECT_EQ(port->CommActive(), 0);
    EXPECT_EQ(TakeReceived(*port, 2), (std::vector<uint8_t>{'h', 'i'}));
    EXPECT_EQ(port->Activate(0), 1);
    EXPECT_EQ(GetLastError(), 0u);
    port.reset();
    // A thread lets go of its handle's descriptor just after it ends; the
    // terminal's master is closed too. At most: a thread an earlier test left
    // may end meanwhile.
    EXPECT_TRUE(WaitUntil([&] { return ThreadCount() <= threads && OpenDescriptorCount() <= descriptors - 1; }))
        << ThreadCount() << " threads, " << OpenDescriptorCount() << " descriptors";
}

TEST_F(TerminalPort, OpeningTwiceReportsAlreadyAssignedAndChangedSettingsCloseThePort)
{
    Open(18, 1);
    EXPECT_EQ(port->Activate(1), 1);
    EXPECT_EQ(GetLastError(), 85u);
    port->SetPort(18, 0, 0, 8, 9600);
    EXPECT_TRUE(port->IsOpen());
    port->SetPort(18, 0, 0, 8, 4800);
    EXPECT_FALSE(port->IsOpen());
    EXPECT_EQ(port->PortActive(), 0);
    EXPECT_EQ(port->Activate(1), 1);
    EXPECT_EQ(terminal.Settings().c_ospeed, 4800u);
}

}  // namespace
