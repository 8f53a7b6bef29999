// Ports on pseudo-terminals: real termios devices for data, speed and hang-up.
#include <gtest/gtest.h>

#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include <ruzada/kernel.h>

#include "SerialTestSupport.h"
#include "serial/COMPort.h"

namespace {

using namespace serialtest;

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

TEST_F(TerminalPort, EveryByteValuePassesBothWays)
{
    Open(11, 0);
    terminal.Send(AllByteValues());
    EXPECT_EQ(TakeReceived(*port, 256), AllByteValues());

    std::vector<uint8_t> out = AllByteValues();
    port->write(out.data(), static_cast<int>(out.size()));
    EXPECT_EQ(terminal.Receive(256), AllByteValues());
}

TEST_F(TerminalPort, HamModeDiscardsReceivedNullBytes)
{
    Open(12, 1);
    terminal.Send({0x00, 'A', 0x00, 0xFF, 0x00});
    EXPECT_EQ(TakeReceived(*port, 2), (std::vector<uint8_t>{'A', 0xFF}));
}

TEST_F(TerminalPort, FiveBitPortDecodesBaudot)
{
    Open(13, 1, 5, 45);
    terminal.Send({31, 5, 9, 27, 5, 9});
    EXPECT_EQ(TakeReceived(*port, 4), (std::vector<uint8_t>{'S', 'D', '\'', 0xA4}));
}

TEST_F(TerminalPort, TeleprinterRateIsSetThroughBother)
{
    Open(14, 1, 5, 45);
    const termios2 settings = terminal.Settings();
    EXPECT_EQ(settings.c_cflag & CBAUD, static_cast<tcflag_t>(BOTHER));
    EXPECT_EQ(settings.c_ospeed, 45u);
    EXPECT_EQ(settings.c_ispeed, 45u);
    EXPECT_EQ(settings.c_lflag & (ICANON | ECHO | ISIG), 0u);
}

TEST_F(TerminalPort, FarEndClosingEndsThePortFromItsReader)
{
    const int descriptors = OpenDescriptorCount();
    Open(15, 1);
    terminal.Send({'h', 'i'});
    ASSERT_TRUE(WaitUntil([&] { return port->size() == 2; }));
    terminal.Close();
    EXPECT_TRUE(WaitUntil([&] { return port->PortActive() == 0; }));
    EXPECT_FALSE(port->IsOpen());
    EXPECT_EQ(port->CommActive(), 0);
    EXPECT_EQ(TakeReceived(*port, 2), (std::vector<uint8_t>{'h', 'i'}));
    EXPECT_EQ(port->Activate(0), 1);
    EXPECT_EQ(GetLastError(), 0u);
    port.reset();
    EXPECT_EQ(OpenDescriptorCount(), descriptors - 1);  // the terminal's master is closed too
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
    EXPECT_TRUE(port->IsOpen());
    EXPECT_EQ(port->PortActive(), 1);
    terminal.Send({'o', 'k'});
    EXPECT_EQ(TakeReceived(*port, 2), (std::vector<uint8_t>{'o', 'k'}));

    const auto closing = std::chrono::steady_clock::now();
    EXPECT_EQ(port->Activate(0), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - closing, 2s);
    EXPECT_EQ(port->PortActive(), 0);
}

TEST_F(TerminalPort, DeviceVanishingInTheMiddleOfAWriteLeaksNothing)
{
    const int descriptors = OpenDescriptorCount();
    const int threads = ThreadCount();
    {
        CCOMPort vanishing;
        terminal.MapTo(17);
        vanishing.SetPort(17, 0, 0, 8, 9600);
        ASSERT_EQ(vanishing.Activate(1), 1);
        std::vector<uint8_t> bulk(64 * 1024, 'y');
        vanishing.write(bulk.data(), static_cast<int>(bulk.size()));
        ASSERT_TRUE(WaitUntil([&] { return vanishing.outsize() < 64 * 1024; }));
        terminal.Close();
        EXPECT_TRUE(WaitUntil([&] { return vanishing.PortActive() == 0; }));
        EXPECT_FALSE(vanishing.IsOpen());
    }
    EXPECT_EQ(OpenDescriptorCount(), descriptors - 1);
    EXPECT_TRUE(WaitUntil([&] { return ThreadCount() == threads; }));
}

TEST_F(TerminalPort, OpeningTwiceReportsAlreadyAssigned)
{
    Open(18, 1);
    EXPECT_EQ(port->Activate(1), 1);
    EXPECT_EQ(GetLastError(), 85u);
    EXPECT_TRUE(port->IsOpen());
}

TEST_F(TerminalPort, ASecondObjectCannotOpenAPortInUse)
{
    Open(19, 1);
    CCOMPort other;
    other.SetPort(19, 0, 0, 8, 9600);
    EXPECT_EQ(other.Activate(1), 0);
    EXPECT_EQ(GetLastError(), 5u);
    EXPECT_EQ(other.PortActive(), 0);
}

TEST_F(TerminalPort, SameSettingsKeepThePortOpenAndChangedOnesCloseIt)
{
    Open(20, 1);
    port->SetPort(20, 0, 0, 8, 9600);
    EXPECT_TRUE(port->IsOpen());
    port->SetPort(20, 0, 0, 8, 4800);
    EXPECT_FALSE(port->IsOpen());
    EXPECT_EQ(port->PortActive(), 0);
    EXPECT_EQ(port->Activate(1), 1);
    EXPECT_EQ(terminal.Settings().c_ospeed, 4800u);
}

TEST(ComPortOpen, MissingDeviceLeavesAUsableClosedPort)
{
    setenv("RUZADA_COM21", "/nonexistent/ttyRUZ", 1);
    CCOMPort port;
    port.SetPort(21, 0, 0, 8, 9600);
    EXPECT_EQ(port.Activate(1), 0);
    EXPECT_EQ(GetLastError(), 2u);
    EXPECT_EQ(port.PortActive(), 0);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.Activate(0), 1);
    EXPECT_EQ(GetLastError(), 0u);
}

TEST(ComPortOpen, APathThatIsNoTerminalIsNoPort)
{
    setenv("RUZADA_COM22", "/dev/null", 1);
    CCOMPort port;
    port.SetPort(22, 0, 0, 8, 9600);
    EXPECT_EQ(port.Activate(1), 0);
    EXPECT_EQ(GetLastError(), 2u);
}

}  // namespace
