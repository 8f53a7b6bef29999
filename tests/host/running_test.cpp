// The running module as a host drives it over the loopback card: text both
// ways, the decode paths, mode selection, and the workers while modes switch.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <numeric>
#include <thread>

#include "ModuleFixture.h"
#include "WavFile.h"

namespace rz::test::host {
namespace {

using rz::test::harness::WaitUntil;

// Every decoder call on the sound path gets a block of exactly 3250 samples, at
// 8000 as at 48000 card samples per second.
class RoundTripTest : public RunningTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(RoundTripTest, TextComesBackInOrderInBlocksOf3250)
{
    CodecLog* codec = LoadCodecs({"DGcodecwide.so"}, GetParam());
    Start(1, kTransmit | kReceive);
    const std::u16string text = u"The quick brown fox jumps over the lazy dog 0123456789 ~!@#$%^&*() THE END";
    for (char16_t unit : text)
        api.SendDGCharW(unit);
    EXPECT_TRUE(host.PumpUntil([&] { return Chars().size() >= text.size(); }, 30s));
    EXPECT_EQ(SentChars(), Units(text));
    EXPECT_EQ(Chars(), Units(text));
    const std::vector<int> sizes = Entries(codec->decodeSizes);
    EXPECT_FALSE(sizes.empty());
    EXPECT_EQ(std::count(sizes.begin(), sizes.end(), 3250), static_cast<long>(sizes.size()));
}

INSTANTIATE_TEST_SUITE_P(CardRates, RoundTripTest, ::testing::Values("Use48KHz=0\n", "Use48KHz=1\n"));

// SendDGCharA goes through Windows-1252 (a byte the code page leaves undefined
// stands for itself); what DG_SENTCHAR reports follows the encoder: a narrow
// one's bytes sign-extended, a wide one's units zero-extended.
struct NarrowCase {
    const char* snapin;
    uint64_t mask;
    std::vector<uint32_t> sentChars;
    std::vector<int> encodedUnits;
};

void PrintTo(const NarrowCase& c, std::ostream* out) { *out << c.snapin; }

class NarrowTextTest : public RunningTest, public ::testing::WithParamInterface<NarrowCase> {};

TEST_P(NarrowTextTest, BytesAreSentAsTheEncoderTakesThem)
{
    const NarrowCase& c = GetParam();
    CodecLog* codec = LoadCodecs({c.snapin});
    Start(c.mask, kTransmit | kReceive);
    for (char byte : std::string("\x80\x9F\xE9\x81"
                                 "A"))
        api.SendDGCharA(byte);
    ASSERT_TRUE(host.PumpUntil([&] { return SentChars().size() == 5; }, 10s));
    EXPECT_EQ(SentChars(), c.sentChars);
    EXPECT_EQ(Entries(codec->encodedUnits), c.encodedUnits);
}

INSTANTIATE_TEST_SUITE_P(
    Encoders, NarrowTextTest,
    ::testing::Values(
        NarrowCase{"DGcodecwide.so", 1, {0x20AC, 0x0178, 0x00E9, 0x81, 'A'}, {0x20AC, 0x0178, 0x00E9, 0x81, 'A'}},
        NarrowCase{
            "DGcodecnarrow.so", 2, {0xFFFFFFACu, 0x78, 0xFFFFFFE9u, 0xFFFFFF81u, 'A'}, {0xAC, 0x78, 0xE9, 0x81, 'A'}}));

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
    ASSERT_TRUE(WaitUntil([&] { return codec->decodeSizes.count >= 2; }));
    EXPECT_TRUE(host.PumpUntil([&] { return Chars().size() >= c.posted.size(); }, 5s));
    // One decoder call more: what the earlier ones gave has been posted by then.
    const int calls = codec->decodeSizes.count;
    EXPECT_TRUE(WaitUntil([&] { return codec->decodeSizes.count > calls; }));
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
    ASSERT_TRUE(WaitUntil([&] { return codec->decodeSizes.count >= 1; }));
    EXPECT_EQ(codec->decodeSizes.entries[0], 3250);
}

TEST_F(RunningTest, CountsAboveCapacityAreClamped)
{
    CodecLog* codec = LoadCodecs({"DGcodecover.so"});
    Start(64, kTransmit | kReceive);
    api.SendDGCharW(u'k');
    ASSERT_TRUE(host.PumpUntil([&] { return SentChars().size() == 1; }, 10s));
    ASSERT_TRUE(WaitUntil([&] { return codec->decodeSizes.count >= 2; }));
    // Every call's 64 units arrive, and never more than 64 per call.
    const int calls = codec->decodeSizes.count;
    ASSERT_TRUE(host.PumpUntil([&] { return Chars().size() >= 64u * calls; }, 10s));
    EXPECT_LE(Chars().size(), 64u * codec->decodeSizes.count);
    EXPECT_EQ(Chars().size() % 64, 0u);
}

// Idle means nothing queued and the encoder without data; characters sent
// without a mode, and the mark 0xFFFF, are dropped. The queue goes to the encoder
// in batches of at most 19.
TEST_F(RunningTest, SendIdleFollowsTheQueueAndHasDataAndQueuedCharactersGoInBatchesOf19)
{
    CodecLog* codec = LoadCodecs({"DGcodecwide.so"});
    api.SetDGFreq(8000.0);
    api.SetDGSoundMode(kReceive, -1);
    api.SendDGCharW(u'a');
    api.SendDGCharA('b');
    EXPECT_EQ(api.IsDGSendIdle(), 1);
    Start(1, kReceive);
    api.SendDGCharW(0xFFFF);
    EXPECT_EQ(api.IsDGSendIdle(), 1);
    const std::u16string text = u"0123456789abcdefghijklmnopqrstuvwxyzABCD";
    for (char16_t unit : text)
        api.SendDGCharW(unit);
    EXPECT_EQ(api.IsDGSendIdle(), 0);
    codec->hasData = 1;
    api.SetDGSoundMode(kTransmit | kReceive, -1);
    ASSERT_TRUE(host.PumpUntil([&] { return SentChars().size() == 40; }, 10s));
    EXPECT_EQ(api.IsDGSendIdle(), 0);
    codec->hasData = 0;
    EXPECT_TRUE(WaitUntil([&] { return api.IsDGSendIdle() == 1; }));
    EXPECT_EQ(Entries(codec->encodeBatches), (std::vector<int>{19, 19, 2}));
    host.Drain();
    EXPECT_EQ(SentChars(), Units(text));
}

// Two host threads switch modes and send for three seconds: nothing deadlocks and
// every character comes out once, in order. A character sent during a selection
// has no mode to go to, so the threads take turns at those two calls.
TEST_F(RunningTest, SwitchingWhileSendingNeitherDeadlocksNorLosesOrReorders)
{
    LoadCodecs({"DGcodecwide.so", "DGcodecwidetoo.so"});
    Start(1, kTransmit | kReceive);
    std::atomic<bool> stop{false};
    std::atomic<uint16_t> sent{0};
    std::mutex turns;
    std::thread switcher([&] {
        for (int round = 0; !stop; ++round) {
            {
                std::lock_guard turn(turns);
                api.SetRUZada(round % 2 ? 2048 : 1);
            }
            api.SetDGSoundMode(round % 3 ? kTransmit | kReceive : kReceive, -1);
        }
    });
    // Units 1, 2, 3 ... so that order shows in the values themselves.
    std::thread sender([&] {
        for (uint16_t unit = 1; !stop && unit < 0xF000; ++unit) {
            {
                std::lock_guard turn(turns);
                api.SendDGCharW(unit);
            }
            sent = unit;
            std::this_thread::sleep_for(2ms);
        }
    });
    host.PumpFor(3s);
    stop = true;
    switcher.join();
    sender.join();

    // Still working: a last character goes out.
    api.SetRUZada(1);
    api.SetDGSoundMode(kTransmit | kReceive, -1);
    const uint16_t last = sent + 1;
    api.SendDGCharW(last);
    ASSERT_TRUE(host.PumpUntil([&] { return !SentChars().empty() && SentChars().back() == last; }, 60s));
    std::vector<uint32_t> expected(last);
    std::iota(expected.begin(), expected.end(), 1u);
    EXPECT_EQ(SentChars(), expected);
    EXPECT_GT(last, 20) << "characters sent while switching";
}

// Each twiddle call tops the playback up by N samples (2N bytes), and the next
// comes only once fewer than N bytes are pending: call k after (k - 1/2) N samples
// have played, and before all k N have, so that the card never runs dry.
TEST_F(RunningTest, TwiddleIsAskedForNSamplesOnlyWhileFewerThanNBytesArePending)
{
    CodecLog* codec = LoadCodecs({"DGcodecwide.so"});
    const int n = api.GetDGProcessorSpeedKHz() < 1000 ? 32000 : 8000;
    Start(1, kTransmit | kReceive);
    constexpr int kCalls = 4;
    ASSERT_TRUE(WaitUntil([&] { return codec->twiddleWanted.count >= kCalls; }, 60s));
    const std::vector<int> wanted = Entries(codec->twiddleWanted);
    EXPECT_EQ(std::count(wanted.begin(), wanted.end(), n), static_cast<long>(wanted.size()));
    // The card plays 8 samples a millisecond; it may run a piece ahead of the clock.
    const std::vector<int> ms = Entries(codec->twiddleTimes);
    constexpr int kPacingSlackMs = 150;
    for (int k = 1; k < kCalls; ++k) {
        EXPECT_GE(ms[k] - ms[0], (2 * k - 1) * n / 16 - kPacingSlackMs) << "call " << k;
        EXPECT_LT(ms[k] - ms[0], k * n / 8) << "call " << k;
    }
}

// Each block played starts with the last sample of the block before, kept back:
// the stream goes on without a seam and one sample late, its first sample 0.
TEST_F(RunningTest, PlayedStreamIsContinuousAndOneSampleLate)
{
    setenv("RUZADA_AUDIO_OUT", PathOf("played.wav").c_str(), 1);
    CodecLog* codec = LoadCodecs({"DGcodecwide.so"}, "", "file");
    Start(1, kTransmit);
    // The third call comes once most of two blocks have played.
    ASSERT_TRUE(WaitUntil([&] { return codec->twiddleWanted.count >= 3; }, 30s));
    api.SetDGFreq(0.0);
    const std::vector<int16_t> played =
        rz::test::support::ReadWav(PathOf("played.wav")).value_or(std::vector<int16_t>{});
    ASSERT_GT(played.size(), static_cast<size_t>(codec->twiddleWanted.entries[0]) + 1);
    std::vector<int16_t> expected = {0};
    for (long i = 0; expected.size() < played.size(); ++i)
        expected.push_back(RampSample(i));
    EXPECT_EQ(played, expected);
}

class SelectionTest : public RunningTest {
protected:
    void SetUp() override { codec = LoadCodecs({"DGcodecwide.so", "DGcodecnarrow.so", "DGcodecnocard.so"}); }
    CodecLog* codec = nullptr;
};

// The same mask is kept, one without a record refused; several modes, or a record
// that no longer loads, leave no mode; zero clears. Commands go to the mode.
TEST_F(SelectionTest, SameMaskIsKeptAndAMaskWithoutARecordThatLoadsLeavesNoMode)
{
    api.SetDGFreq(8000.0);
    EXPECT_EQ(api.InvokeDGCommand(40), 0u);
    EXPECT_EQ(api.SetRUZada(1), 0u);
    EXPECT_EQ(codec->initRate, 8000.0);
    EXPECT_EQ(api.InvokeDGCommand(40), 41u) << "the selected mode's DoDGCommand answers";
    EXPECT_EQ(api.SetRUZada(1), 1u);
    EXPECT_EQ(codec->initCalls, 1);
    EXPECT_EQ(api.SetRUZada(1024), 1u);
    EXPECT_EQ(api.GetRUZada(), 1u);
    EXPECT_EQ(api.SetRUZada(3), 1u);
    EXPECT_EQ(api.GetRUZada(), 0u);
    api.SetRUZada(1);
    ASSERT_EQ(unlink(PathOf("DGcodecnarrow.so").c_str()), 0);
    EXPECT_EQ(api.SetRUZada(2), 1u);
    EXPECT_EQ(api.GetRUZada(), 0u);
    api.SetRUZada(1);
    EXPECT_EQ(api.SetRUZada(0), 1u);
    EXPECT_EQ(api.GetRUZada(), 0u);
}

TEST_F(SelectionTest, LeavingAModeWithoutCardReopensItAt8000)
{
    Start(1, kReceive);
    ASSERT_TRUE(WaitUntil([&] { return codec->decodeSizes.count >= 1; }));
    api.SetRUZada(256);
    // Applying the sound mode closes the card for the mode that has none.
    api.SetDGSoundMode(kReceive, -1);
    const int decodedBefore = codec->decodeSizes.count;
    EXPECT_EQ(api.SetRUZada(1), 256u);
    EXPECT_EQ(api.GetDGFreq(), 8000.0);
    // The capture is open again: the decoder gets blocks.
    EXPECT_TRUE(WaitUntil([&] { return codec->decodeSizes.count > decodedBefore; }));
}

// While a selection runs (its InitRUZada held), both workers leave the audio
// alone: the spectrum would show it, fed by the transmit thread's idle silence
// (sound mode 0) or by the receive thread before each decode.
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
    EXPECT_TRUE(WaitUntil([&] { return next->initCalls == 1; }));
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
