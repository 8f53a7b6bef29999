// Push-to-talk and line control, watched on virtual ports that record every RTS,
// DTR and break change with its time.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "SerialTestSupport.h"
#include "serial/COMPort.h"

namespace {

using namespace rz::test::serial;

// "RTS+ DTR-" and so on, oldest first.
std::string Describe(const std::vector<VirtualLineChange>& changes)
{
    std::string text;
    for (const VirtualLineChange& change : changes) {
        text += text.empty() ? "" : " ";
        text += change.line == VIRTUAL_LINE_RTS ? "RTS" : change.line == VIRTUAL_LINE_DTR ? "DTR" : "BRK";
        text += change.raised ? '+' : '-';
    }
    return text;
}

// A keying change comes with the port's 100 ms pause before and after it; other
// calls return at once.
enum class Timing { Paused, AtOnce, Any };
constexpr int64_t kPauseMs = 100;

class LinePort : public ::testing::Test {
protected:
    void Open(unsigned char byteSize)
    {
        wire.MapTo(31);
        port.SetPort(31, 0, 0, byteSize, 45);
        ASSERT_EQ(port.Activate(1), 1);
        ASSERT_TRUE(port.IsOpen());
        mark = wire.ChangesFrom(0).size();
    }
    // The changes since Open, or since the last call.
    std::vector<VirtualLineChange> NewChanges()
    {
        std::vector<VirtualLineChange> changes = wire.ChangesFrom(mark);
        mark += changes.size();
        return changes;
    }
    // Runs `call` and checks the line changes it made and how long it took.
    void Expect(const std::function<void()>& call, const std::string& expected, Timing timing, const char* what)
    {
        SCOPED_TRACE(what);
        const int64_t before = NowNs();
        call();
        const int64_t after = NowNs();
        const std::vector<VirtualLineChange> changes = NewChanges();
        ASSERT_EQ(Describe(changes), expected);
        EXPECT_TRUE(timing != Timing::AtOnce || after - before < Ms(kPauseMs)) << (after - before) / Ms(1) << " ms";
        if (timing != Timing::Paused)
            return;
        EXPECT_GE(changes[0].time - before, Ms(kPauseMs));
        EXPECT_GE(after - changes[0].time, Ms(kPauseMs));
        EXPECT_LT(after - before, Ms(2 * kPauseMs + 2000));
    }

    VirtualPort wire;
    CCOMPort port;
    size_t mark = 0;
};

TEST_F(LinePort, HamModeOpenRaisesRtsThenDtrAndDropsRtsForKeying)
{
    // Opening raises both as a terminal does, the line settings drop them, the
    // port's own set-up raises them, and RTS keying drops RTS again.
    for (const auto& [byteSize, expected] :
         {std::pair<unsigned char, const char*>{8, "DTR+ RTS+ DTR- RTS- RTS+ DTR+"}, {5, "DTR+ RTS+ DTR- RTS- RTS-"}}) {
        VirtualPort line;
        line.MapTo(31);
        CCOMPort keyed;
        keyed.SetPort(31, 0, 0, byteSize, 45);
        ASSERT_EQ(keyed.Activate(1), 1);
        EXPECT_EQ(Describe(line.ChangesFrom(0)), expected);
        EXPECT_EQ(keyed.Transmitting(), 0);
    }
}

TEST_F(LinePort, ForcingOnKeysAndPutsTheShiftCodeAheadOfTheQueue)
{
    Open(5);
    port.Stop();
    unsigned char codes[] = {1, 2, 3};
    port.write(codes, 3);
    Expect([&] { port.ForceTransmitOn(1); }, "RTS+", Timing::Paused, "forced on");
    EXPECT_EQ(port.TransmitForceOn(), 1);
    EXPECT_EQ(port.TransmitDisabled(), 0);
    EXPECT_EQ(wire.Drain(4), (std::vector<uint8_t>{31, 1, 2, 3}));

    // In figures shift the figures code leads.
    port.ForceTransmitOn(0);
    port.FlipBaudotSign();
    port.Stop();
    port.write(codes, 1);
    port.ForceTransmitOn(1);
    EXPECT_EQ(wire.Drain(2), (std::vector<uint8_t>{27, 1}));
}

TEST_F(LinePort, ReleasingWhileTheDriverHoldsOutputStaysKeyed)
{
    Open(5);
    port.ForceTransmitOn(1);
    unsigned char codes[] = {1, 2, 3};
    port.write(codes, 3);
    ASSERT_TRUE(WaitUntil([&] { return VirtualPortPending(wire.Name()) == 4; }));
    EXPECT_EQ(port.TXEmpty(), 0);
    NewChanges();
    Expect([&] { port.ForceTransmitOn(0); }, "", Timing::Any, "released while held");
    EXPECT_EQ(port.Transmitting(), 1);
    EXPECT_EQ(port.TransmitForceOn(), 0);
    wire.Drain(4);
    Expect([&] { port.ForceTransmitOn(0); }, "RTS-", Timing::Paused, "released");
    EXPECT_EQ(port.Transmitting(), 0);
    // The port says so once the driver has sent everything.
    EXPECT_TRUE(WaitUntil([&] { return port.TXEmpty() == 1; }));
}

// No change on the line can show that nothing was sent: each watches a window
// long enough for many writer passes.
TEST_F(LinePort, AStoppedPortSendsOnlyAfterGo)
{
    Open(5);
    port.ForceTransmitOn(1);
    wire.Drain(1);
    NewChanges();
    Expect([&] { port.Stop(); }, "RTS-", Timing::Paused, "stop");
    EXPECT_EQ(port.TransmitDisabled(), 1);
    unsigned char codes[] = {4, 5};
    port.write(codes, 2);
    EXPECT_FALSE(WaitUntil([&] { return VirtualPortPending(wire.Name()) > 0; }, 150ms));
    EXPECT_EQ(port.outsize(), 2);
    port.Go();
    EXPECT_EQ(wire.Drain(2), (std::vector<uint8_t>{4, 5}));
}

TEST_F(LinePort, DiddleFillsTheIdleLineOnlyWhileAsked)
{
    Open(5);
    port.SetDiddle(1);
    port.ForceTransmitOn(1);
    EXPECT_EQ(wire.Drain(9), std::vector<uint8_t>(9, 0x1F));
    port.SetDiddle(0);
    wire.Drain(4096, 50ms);
    EXPECT_FALSE(WaitUntil([&] { return VirtualPortPending(wire.Name()) > 0; }, 150ms));
}

TEST_F(LinePort, BreakHoldsTheLineFor200MsAndAReceivedBreakClearsIt)
{
    Open(8);
    port.Break();
    const std::vector<VirtualLineChange> changes = NewChanges();
    ASSERT_EQ(Describe(changes), "BRK+ BRK-");
    EXPECT_GE(changes[1].time - changes[0].time, Ms(200));
    EXPECT_LT(changes[1].time - changes[0].time, Ms(2200));
    VirtualPortSendBreak(wire.Name());
    EXPECT_TRUE(WaitUntil([&] { return Describe(wire.ChangesFrom(mark)) == "BRK-"; }));
}

TEST_F(LinePort, ClosingUnkeysFirst)
{
    Open(5);
    port.ForceTransmitOn(1);
    NewChanges();
    Expect([&] { EXPECT_EQ(port.Activate(0), 1); }, "RTS- DTR- RTS-", Timing::Any, "close");
    EXPECT_FALSE(VirtualPortIsOpen(wire.Name()));
    EXPECT_EQ(port.Transmitting(), 0);
}

TEST_F(LinePort, OnAClosedPortKeyingChangesFlagsAndStillPausesAndBreakDoesNothing)
{
    port.SetPort(32, 0, 0, 5, 45);
    const auto took = [](const std::function<void()>& call) {
        const int64_t before = NowNs();
        call();
        return NowNs() - before;
    };
    EXPECT_LT(took([&] { port.Break(); }), Ms(kPauseMs));
    EXPECT_GE(took([&] { port.PTTOn(); }), Ms(2 * kPauseMs));
    EXPECT_EQ(port.Transmitting(), 1);
    port.SetRTS(0);
    EXPECT_GE(took([&] { port.SetRTSRaw(1); }), Ms(2 * kPauseMs));
    EXPECT_EQ(port.PortActive(), 0);
    EXPECT_TRUE(wire.ChangesFrom(0).empty());
}

}  // namespace
