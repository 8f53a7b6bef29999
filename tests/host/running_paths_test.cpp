// Mode selection and the receive paths: what reaches the host from decoders that
// answer fixed lists, from a polled mode, and from snap-ins that misbehave.
#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "running_fixture.h"

namespace running {
namespace {

TEST_F(RunningTest, PolledDecoderBytesArePostedSignExtendedZerosIncluded)
{
    Load({"DGcodecpolled.so"});
    const auto codec = Hold("DGcodecpolled.so");
    Start(4, kReceive);
    ASSERT_TRUE(host.PumpUntil([&] { return Chars().size() >= 5; }, 10s));
    host.PumpFor(100ms);
    EXPECT_EQ(Chars(), (std::vector<uint32_t>{'A', 0, 0xFFFFFFE9u, 'B', 0}));
    EXPECT_EQ(Entries(codec->Log()->decodeSizes).front(), 4096);
}

TEST_F(RunningTest, SoundPathSkipsZeroAndHighBytes)
{
    Load({"DGcodecscripted.so"});
    const auto codec = Hold("DGcodecscripted.so");
    Start(8, kReceive);
    ASSERT_TRUE(harness::WaitUntil([&] { return codec->Log()->decodeSizes.count >= 2; }, 10s));
    host.PumpFor(100ms);
    EXPECT_EQ(Chars(), (std::vector<uint32_t>{'A', 'B'}));
    EXPECT_EQ(Entries(codec->Log()->decodeSizes).front(), 3250);
}

TEST_F(RunningTest, WideDecoderZeroUnitsAreSkippedAndOthersZeroExtended)
{
    Load({"DGcodecscriptedwide.so"});
    const auto codec = Hold("DGcodecscriptedwide.so");
    Start(16, kReceive);
    ASSERT_TRUE(harness::WaitUntil([&] { return codec->Log()->decodeSizes.count >= 2; }, 10s));
    host.PumpFor(100ms);
    EXPECT_EQ(Chars(), (std::vector<uint32_t>{'x', 'y', 0xE9}));
}

TEST_F(RunningTest, ReceiveOffDropsAudioAndDecodesNothing)
{
    Load({"DGcodecscripted.so"});
    const auto codec = Hold("DGcodecscripted.so");
    Start(8, kTransmit);
    host.PumpFor(1s);
    EXPECT_EQ(codec->Log()->decodeSizes.count, 0);
    setSoundMode(kReceive, -1);
    ASSERT_TRUE(harness::WaitUntil([&] { return codec->Log()->decodeSizes.count >= 1; }, 10s));
    EXPECT_EQ(Entries(codec->Log()->decodeSizes).front(), 3250);
}

TEST_F(RunningTest, CountsAboveCapacityAreClamped)
{
    Load({"DGcodecover.so"});
    const auto codec = Hold("DGcodecover.so");
    Start(64, kTransmit | kReceive);
    sendW(u'k');
    ASSERT_TRUE(host.PumpUntil([&] { return SentChars().size() == 1; }, 10s));
    ASSERT_TRUE(harness::WaitUntil([&] { return codec->Log()->decodeSizes.count >= 2; }, 10s));
    // Every call's 64 units arrive, and never more than 64 per call.
    const int calls = codec->Log()->decodeSizes.count;
    ASSERT_TRUE(host.PumpUntil([&] { return Chars().size() >= 64u * calls; }, 10s));
    EXPECT_LE(Chars().size(), 64u * codec->Log()->decodeSizes.count);
    EXPECT_EQ(Chars().size() % 64, 0u);
}

class SelectionTest : public RunningTest {
protected:
    void SetUp() override { Load({"DGcodecwide.so", "DGcodecnarrow.so", "DGcodecnocard.so"}); }
};

TEST_F(SelectionTest, SameMaskIsNotInitialisedAgain)
{
    const auto codec = Hold("DGcodecwide.so");
    EXPECT_EQ(setRUZada(1), 0u);
    EXPECT_EQ(setRUZada(1), 1u);
    EXPECT_EQ(codec->Log()->initCalls, 1);
}

TEST_F(SelectionTest, RefusedMaskKeepsTheModeAndZeroClearsIt)
{
    const auto codec = Hold("DGcodecwide.so");
    setRUZada(1);
    EXPECT_EQ(setRUZada(1024), 1u);
    EXPECT_EQ(getRUZada(), 1u);
    EXPECT_EQ(codec->Log()->initCalls, 1);
    EXPECT_EQ(setRUZada(0), 1u);
    EXPECT_EQ(getRUZada(), 0u);
    sendW(u'a');
    EXPECT_EQ(isSendIdle(), 1);
}

TEST_F(SelectionTest, CombinedMaskLeavesNoMode)
{
    setRUZada(1);
    EXPECT_EQ(setRUZada(3), 1u);
    EXPECT_EQ(getRUZada(), 0u);
}

TEST_F(SelectionTest, LibraryThatFailsToLoadLeavesNoMode)
{
    setRUZada(1);
    ASSERT_EQ(unlink((dir.Path() + "/DGcodecnarrow.so").c_str()), 0);
    EXPECT_EQ(setRUZada(2), 1u);
    EXPECT_EQ(getRUZada(), 0u);
}

TEST_F(SelectionTest, InitGetsTheCardRate)
{
    const auto codec = Hold("DGcodecwide.so");
    setFreq(8000.0);
    setRUZada(1);
    EXPECT_EQ(codec->Log()->initRate, 8000.0);
}

TEST_F(SelectionTest, LeavingAModeWithoutCardReopensItAt8000)
{
    const auto codec = Hold("DGcodecwide.so");
    Start(1, kReceive);
    ASSERT_TRUE(harness::WaitUntil([&] { return codec->Log()->decodeSizes.count >= 1; }, 10s));
    setRUZada(256);
    // Applying the sound mode closes the card for the mode that has none.
    setSoundMode(kReceive, -1);
    const int decodedBefore = codec->Log()->decodeSizes.count;
    EXPECT_EQ(setRUZada(1), 256u);
    EXPECT_EQ(getFreq(), 8000.0);
    // The capture is open again: the decoder gets blocks.
    EXPECT_TRUE(harness::WaitUntil([&] { return codec->Log()->decodeSizes.count > decodedBefore; }, 10s));
}

TEST_F(RunningTest, StuckDecoderDelaysUnloadAndWarns)
{
    Load({"DGcodecstuck.so"});
    const auto codec = Hold("DGcodecstuck.so");
    Start(128, kReceive);
    ASSERT_TRUE(harness::WaitUntil([&] { return codec->Log()->decoderEntered >= 1; }, 10s));
    const auto start = std::chrono::steady_clock::now();
    module->Unload();
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 1800ms);
    EXPECT_LE(took, 8s);
    EXPECT_EQ(debug.Count("RUZada Warning: Receive Thread did not exit...\n"), 1);
    // The host goes on: a fresh module loads and runs.
    harness::LoadedModule again(dir.ModulePath());
    EXPECT_TRUE(again.Loaded());
}

}  // namespace
}  // namespace running
