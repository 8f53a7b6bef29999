// The COM port exports as a host calls them, on virtual ports: which port opens,
// what a read hands out, and that stale and foreign pointers do no harm; and ports
// on pseudo-terminals: real termios devices for data, speed and hang-up.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <numeric>
#include <string>
#include <tuple>
#include <vector>

#include <RUZada.h>
#include <ruzada/kernel.h>

#include "SerialTestSupport.h"
#include "core/Globals.h"
#include "core/Messages.h"
#include "serial/COMPort.h"
#include "serial/ComPortList.h"

namespace {

using namespace rz::test::serial;

CCOMPort* Open(int number, int byteSize = 8) { return DGOpenComPort(number, 0, 0, byteSize, 9600); }
bool IsOpen(const VirtualPort& wire) { return VirtualPortIsOpen(wire.Name()); }

class ComPortExports : public ::testing::Test {
protected:
    void SetUp() override { g_hwndHost = host.Handle(); }
    void TearDown() override { g_hwndHost = nullptr; }
    RecordingWindow host;
};

TEST_F(ComPortExports, PortZeroOpensThePortTheHostNamesAndNothingWhenItNamesNone)
{
    VirtualPort com3;
    com3.MapTo(3);
    host.Answer(3);
    CCOMPort* port = Open(0);
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_TRUE(IsOpen(com3));
    const std::vector<Received> asked = host.Messages(g_uMsgRequestCom);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].wParam, 0u);
    EXPECT_EQ(asked[0].lParam, 0);
    DGCloseComPort(port);
    EXPECT_FALSE(IsOpen(com3));

    host.Answer(0);
    EXPECT_EQ(Open(0), nullptr);
    EXPECT_EQ(GetLastError(), 13u);
}

TEST_F(ComPortExports, NumbersOutOfRangeOpenCom1AndAPortInUseOrMissingGivesAClosedOne)
{
    VirtualPort com1;
    com1.MapTo(1);
    CCOMPort* first = Open(300);
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(IsOpen(com1));
    CCOMPort* second = Open(1);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(GetLastError(), 5u);
    EXPECT_EQ(second->PortActive(), 0);
    DGCloseComPort(second);
    EXPECT_EQ(first->PortActive(), 1);
    DGCloseComPort(first);

    // A missing device, one that is no terminal, or a virtual port nobody made.
    for (const char* device : {"/nonexistent/ttyRUZ4", "/dev/null", "virtual:nobody-made-this"}) {
        setenv("RUZADA_COM4", device, 1);
        CCOMPort* missing = Open(4);
        ASSERT_NE(missing, nullptr);
        EXPECT_EQ(GetLastError(), 2u) << device;
        EXPECT_EQ(missing->PortActive(), 0);
        DGCloseComPort(missing);
    }
}

// A read hands out the whole queue or, cut to the caller's room, empties it all
// the same; nothing new since gives nothing.
TEST_F(ComPortExports, ReadsFitTheCallersBufferAndEmptyTheQueue)
{
    VirtualPort com6;
    com6.MapTo(6);
    CCOMPort* port = Open(6);
    unsigned char buffer[64];
    com6.Feed({'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'});
    ASSERT_TRUE(WaitUntil([&] { return port->size() == 10; }));
    EXPECT_EQ(DGReadComPort(port, buffer, 64), 10);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 11), std::string("0123456789", 11)) << "terminated";
    EXPECT_EQ(DGReadComPort(port, buffer, 64), 0);

    com6.Feed({'a', 'b', 'c', 'd', 'e', 'f'});
    ASSERT_TRUE(WaitUntil([&] { return port->size() == 6; }));
    EXPECT_EQ(DGReadComPort(port, buffer, 4), 4);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 5), "abcd4") << "nothing beyond the room";
    EXPECT_EQ(port->size(), 0);
    com6.Feed({'z'});
    ASSERT_TRUE(WaitUntil([&] { return port->size() == 1; }));
    EXPECT_EQ(DGReadComPort(port, buffer, 0), 0);
    EXPECT_EQ(DGReadComPort(port, nullptr, 16), 0);
    EXPECT_EQ(port->size(), 0);
    DGCloseComPort(port);
}

TEST_F(ComPortExports, WritesReachTheLineAndRtsFollowsTheKeyingFlag)
{
    VirtualPort com7;
    com7.MapTo(7);
    CCOMPort* port = Open(7);
    const unsigned char text[] = {'d', 'e', ' ', 'D', 'L'};
    DGWriteComPort(port, text, 5);
    DGWriteComPort(port, nullptr, 3);
    DGWriteComPort(port, text, -1);
    EXPECT_EQ(com7.Drain(5), std::vector<uint8_t>(text, text + 5));
    EXPECT_TRUE(WaitUntil([&] { return port->outsize() == 0 && VirtualPortPending(com7.Name()) == 0; }));

    size_t mark = com7.ChangesFrom(0).size();
    const int64_t start = NowNs();
    DGSetRTS(port, 0);
    EXPECT_GE(NowNs() - start, Ms(200));
    EXPECT_EQ(com7.ChangesFrom(mark).size(), 1u);
    DGEnablePortRTS(port, 1);
    mark = com7.ChangesFrom(0).size();
    DGSetRTS(port, 1);
    EXPECT_EQ(com7.ChangesFrom(mark).size(), 0u);
    DGEnablePortRTS(port, 0);
    EXPECT_EQ(com7.ChangesFrom(mark).size(), 2u);
    DGCloseComPort(port);
}

TEST_F(ComPortExports, ClosedAndForeignPointersAreHarmlessAndClosingAllClosesEveryPort)
{
    VirtualPort com9, com10;
    com9.MapTo(9);
    com10.MapTo(10);
    CCOMPort* port = Open(9);
    DGCloseComPort(port);
    DGCloseComPort(port);
    DGCloseComPort(nullptr);
    int notAPort = 0;
    unsigned char buffer[4] = {};
    const unsigned char byte = 1;
    for (CCOMPort* bad : {static_cast<CCOMPort*>(nullptr), reinterpret_cast<CCOMPort*>(&notAPort), port}) {
        EXPECT_EQ(DGReadComPort(bad, buffer, 4), 0);
        DGWriteComPort(bad, &byte, 1);
        DGEnablePortRTS(bad, 1);
        DGSetRTS(bad, 1);
        DGCloseComPort(bad);
    }
    EXPECT_EQ(notAPort, 0);
    EXPECT_FALSE(IsOpen(com9));

    ASSERT_NE(Open(9), nullptr);
    ASSERT_NE(Open(10, 5), nullptr);
    CloseAllComPorts();
    EXPECT_FALSE(IsOpen(com9));
    EXPECT_FALSE(IsOpen(com10));
}

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
    EXPECT_EQ(std::tuple(settings.c_cflag & CBAUD, settings.c_ospeed, settings.c_ispeed),
              std::tuple(tcflag_t{BOTHER}, speed_t{45}, speed_t{45}));
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
    EXPECT_EQ(std::pair(port->IsOpen(), port->CommActive()), std::pair(false, 0));
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
    EXPECT_EQ(std::pair(port->IsOpen(), port->PortActive()), std::pair(false, 0));
    EXPECT_EQ(port->Activate(1), 1);
    EXPECT_EQ(terminal.Settings().c_ospeed, 4800u);
}

}  // namespace
