// Mode selection and the receive paths: what reaches the host from decoders that
// answer fixed lists, from a polled mode, from snap-ins that misbehave; the
// spectrum of a tone that goes round the loopback cable; and what the worker
// threads do while a selection runs.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <thread>

#include "module_fixture.h"

namespace rz::test::host {
namespace {

// Each scripted decoder answers one fixed list on its first call.
struct DecodeCase {
    const char* snapin;
    uint64_t mask;
    std::vector<uint32_t> posted;
    int blockSize;
};

void PrintTo(const DecodeCase& c, std::ostream* out) { *out << c.snapin; }

class DecodePathTest : public RunningTest, public ::testing::WithParamInterface<DecodeCase> {};

TEST_P(DecodePathTest, TheHostGetsWhatThePathPasses)
{
    const DecodeCase& c = GetParam();
    CodecLog* codec = LoadCodecs({c.snapin});
    Start(c.mask, kReceive);
    ASSERT_TRUE(rz::test::harness::WaitUntil([&] { return codec->decodeSizes.count >= 2; }, 10s));
    EXPECT_TRUE(host.PumpUntil([&] { return Chars().size() >= c.posted.size(); }, 5s));
    // One decoder call more: what the earlier ones gave has been posted by then.
    const int calls = codec->decodeSizes.count;
    EXPECT_TRUE(rz::test::harness::WaitUntil([&] { return codec->decodeSizes.count > calls; }, 10s));
    host.Drain();
    EXPECT_EQ(Chars(), c.posted);
    EXPECT_EQ(codec->decodeSizes.entries[0], c.blockSize);
}

INSTANTIATE_TEST_SUITE_P(Paths, DecodePathTest,
                         ::testing::Values(
                             // Polled, narrow: every byte, sign-extended, zeros too; the block is not refreshed.
                             DecodeCase{"DGcodecpolled.so", 4, {'A', 0, 0xFFFFFFE9u, 'B', 0}, 4096},
                             // Sound path, narrow: zero and high bytes are skipped.
                             DecodeCase{"DGcodecscripted.so", 8, {'A', 'B'}, 3250},
                             // Sound path, wide: zero units are skipped, the others zero-extended.
                             DecodeCase{"DGcodecscriptedwide.so", 16, {'x', 'y', 0xE9}, 3250}));

TEST_F(RunningTest, ReceiveOffDropsAudioAndDecodesNothing)
{
    CodecLog* codec = LoadCodecs({"DGcodecscripted.so"});
    Start(8, kTransmit);
    ASSERT_TRUE(PumpWhileCapturing(3 * 3250));
    EXPECT_EQ(codec->decodeSizes.count, 0);
    api.SetDGSoundMode(kReceive, -1);
    ASSERT_TRUE(rz::test::harness::WaitUntil([&] { return codec->decodeSizes.count >= 1; }, 10s));
    EXPECT_EQ(codec->decodeSizes.entries[0], 3250);
}

TEST_F(RunningTest, CountsAboveCapacityAreClamped)
{
    CodecLog* codec = LoadCodecs({"DGcodecover.so"});
    Start(64, kTransmit | kReceive);
    api.SendDGCharW(u'k');
    ASSERT_TRUE(host.PumpUntil([&] { return SentChars().size() == 1; }, 10s));
    ASSERT_TRUE(rz::test::harness::WaitUntil([&] { return codec->decodeSizes.count >= 2; }, 10s));
    // Every call's 64 units arrive, and never more than 64 per call.
    const int calls = codec->decodeSizes.count;
    ASSERT_TRUE(host.PumpUntil([&] { return Chars().size() >= 64u * calls; }, 10s));
    EXPECT_LE(Chars().size(), 64u * codec->decodeSizes.count);
    EXPECT_EQ(Chars().size() % 64, 0u);
}

// A tone that the twiddle plays goes round the loopback cable and through the
// receive feeder. With "UseFFT" on it shows in its bin, and DG_RAWDATA carries the
// rate and the level; with it off nothing is posted and the spectrum stays empty.
class SpectrumTest : public RunningTest, public ::testing::WithParamInterface<bool> {};

TEST_P(SpectrumTest, ATonePlayedShowsInItsBinOnlyWithUseFFT)
{
    const bool useFFT = GetParam();
    CodecLog* codec = LoadCodecs({"DGcodecwide.so"}, useFFT ? "UseFFT=1\n" : "UseFFT=0\n");
    codec->twiddleSignal = TwiddleSignal::Tone;
    Start(1, kTransmit | kReceive);
    // Once the meter reads the tone, three more blocks leave nothing else queued.
    ASSERT_TRUE(host.PumpUntil([&] { return std::lround(api.GetDGLevel() * 100) == kToneLevelPercent; }, 20s));
    const int fed = codec->decodeSizes.count;
    ASSERT_TRUE(host.PumpUntil([&] { return codec->decodeSizes.count >= fed + 3; }, 10s));
    std::vector<int32_t> bins(1024, -1);
    EXPECT_EQ(api.GetDGFFTData(bins.data(), 1023, 0, 1023), 0) << "half scale never overloads";
    const std::vector<rz::test::harness::Received> posts = host.Messages(host.msgRawData);
    if (!useFFT) {
        EXPECT_EQ(bins, std::vector<int32_t>(1024, 0));
        EXPECT_TRUE(posts.empty());
        return;
    }
    ASSERT_FALSE(posts.empty());
    EXPECT_EQ(posts.back().wParam, 8000u);
    EXPECT_EQ(posts.back().lParam, kToneLevelPercent);
    EXPECT_EQ(std::max_element(bins.begin(), bins.end()) - bins.begin(), kToneBin);
    // Half scale is 6 dB, three steps, below the 49 of a full-scale tone; away
    // from the tone the window leaves nothing near it.
    EXPECT_NEAR(bins[kToneBin], 46, 1);
    for (int bin = 0; bin < 1024; ++bin)
        EXPECT_TRUE(std::abs(bin - kToneBin) <= 8 || bins[bin] < bins[kToneBin] - 20) << "bin " << bin;
}

INSTANTIATE_TEST_SUITE_P(UseFFT, SpectrumTest, ::testing::Bool());

class SelectionTest : public RunningTest {
protected:
    void SetUp() override { codec = LoadCodecs({"DGcodecwide.so", "DGcodecnarrow.so", "DGcodecnocard.so"}); }
    CodecLog* codec = nullptr;
};

TEST_F(SelectionTest, SameMaskIsKeptRefusedMaskChangesNothingAndZeroClears)
{
    api.SetDGFreq(8000.0);
    EXPECT_EQ(api.SetRUZada(1), 0u);
    EXPECT_EQ(codec->initRate, 8000.0);
    EXPECT_EQ(api.SetRUZada(1), 1u);
    EXPECT_EQ(api.SetRUZada(1024), 1u);
    EXPECT_EQ(api.GetRUZada(), 1u);
    EXPECT_EQ(codec->initCalls, 1);
    EXPECT_EQ(api.SetRUZada(0), 1u);
    EXPECT_EQ(api.GetRUZada(), 0u);
}

TEST_F(SelectionTest, AMaskWithoutARecordThatLoadsLeavesNoMode)
{
    api.SetRUZada(1);
    // Two modes' bits: no single record has them.
    EXPECT_EQ(api.SetRUZada(3), 1u);
    EXPECT_EQ(api.GetRUZada(), 0u);
    api.SetRUZada(1);
    ASSERT_EQ(unlink(PathOf("DGcodecnarrow.so").c_str()), 0);
    EXPECT_EQ(api.SetRUZada(2), 1u);
    EXPECT_EQ(api.GetRUZada(), 0u);
}

TEST_F(SelectionTest, LeavingAModeWithoutCardReopensItAt8000)
{
    Start(1, kReceive);
    ASSERT_TRUE(rz::test::harness::WaitUntil([&] { return codec->decodeSizes.count >= 1; }, 10s));
    api.SetRUZada(256);
    // Applying the sound mode closes the card for the mode that has none.
    api.SetDGSoundMode(kReceive, -1);
    const int decodedBefore = codec->decodeSizes.count;
    EXPECT_EQ(api.SetRUZada(1), 256u);
    EXPECT_EQ(api.GetDGFreq(), 8000.0);
    // The capture is open again: the decoder gets blocks.
    EXPECT_TRUE(rz::test::harness::WaitUntil([&] { return codec->decodeSizes.count > decodedBefore; }, 10s));
}

// While a selection runs, both worker threads leave the audio alone. The new
// snap-in's InitRUZada blocks meanwhile; the spectrum shows whether a thread still
// works, since each feeds it without a lock: the transmit thread its idle
// silence (sound mode 0), the receive thread each block before decoding it.
class ModeBusyTest : public RunningTest, public ::testing::WithParamInterface<int> {};

TEST_P(ModeBusyTest, TheWorkerFeedsNothingUntilTheSelectionEnds)
{
    CodecLog* next = LoadCodecs({"DGcodecwide.so", "DGcodecwidetoo.so"}, "UseFFT=1\n");
    next->holdInit = true;
    Start(2048, GetParam());
    const auto posts = [&] { return host.Messages(host.msgRawData).size(); };
    // Right after a block went to the spectrum, the receive thread's next one is a
    // whole block away.
    const size_t before = posts();
    EXPECT_TRUE(host.PumpUntil([&] { return posts() > before; }, 10s));
    std::thread selection([&] { api.SetRUZada(1); });
    EXPECT_TRUE(rz::test::harness::WaitUntil([&] { return next->initCalls == 1; }, 10s));
    // What was queued for the spectrum before drains within a few FFT cycles.
    size_t quiet = 0;
    for (int round = 0; round < 50 && quiet != posts(); ++round) {
        quiet = posts();
        host.PumpFor(150ms);
    }
    ASSERT_TRUE(PumpWhileCapturing(3 * 3250));
    EXPECT_EQ(posts(), quiet);
    next->holdInit = false;
    selection.join();
    EXPECT_EQ(api.GetRUZada(), 1u);
    EXPECT_TRUE(host.PumpUntil([&] { return posts() > quiet; }, 10s));
}

INSTANTIATE_TEST_SUITE_P(Threads, ModeBusyTest, ::testing::Values(0, kReceive));

}  // namespace
}  // namespace rz::test::host
