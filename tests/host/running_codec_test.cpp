// Characters through the running module: sent, encoded, played over the loopback
// card, captured, decoded and posted to the host, also while other host threads
// switch modes; and the stream the transmit thread plays while nothing is queued.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <iterator>
#include <mutex>
#include <numeric>
#include <thread>

#include "module_fixture.h"

namespace rz::test::host {
namespace {

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

// SendDGCharA goes through Windows-1252; what DG_SENTCHAR reports follows the
// encoder: a narrow one's bytes sign-extended, a wide one's units zero-extended.
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
    for (char byte : std::string("\x80\x9F\xE9"
                                 "A"))
        api.SendDGCharA(byte);
    ASSERT_TRUE(host.PumpUntil([&] { return SentChars().size() == 4; }, 10s));
    EXPECT_EQ(SentChars(), c.sentChars);
    EXPECT_EQ(Entries(codec->encodedUnits), c.encodedUnits);
}

INSTANTIATE_TEST_SUITE_P(
    Encoders, NarrowTextTest,
    ::testing::Values(NarrowCase{"DGcodecwide.so", 1, {0x20AC, 0x0178, 0x00E9, 'A'}, {0x20AC, 0x0178, 0x00E9, 'A'}},
                      NarrowCase{
                          "DGcodecnarrow.so", 2, {0xFFFFFFACu, 0x78, 0xFFFFFFE9u, 'A'}, {0xAC, 0x78, 0xE9, 'A'}}));

TEST_F(RunningTest, FortyQueuedCharactersAreEncodedInBatchesOf19)
{
    CodecLog* codec = LoadCodecs({"DGcodecwide.so"});
    Start(1, kReceive);
    const std::u16string text = u"0123456789abcdefghijklmnopqrstuvwxyzABCD";
    ASSERT_EQ(text.size(), 40u);
    for (char16_t unit : text)
        api.SendDGCharW(unit);
    EXPECT_EQ(api.IsDGSendIdle(), 0);
    api.SetDGSoundMode(kTransmit | kReceive, -1);
    ASSERT_TRUE(host.PumpUntil([&] { return SentChars().size() == 40; }, 10s));
    EXPECT_EQ(Entries(codec->encodeBatches), (std::vector<int>{19, 19, 2}));
    EXPECT_EQ(SentChars(), Units(text));
}

TEST_F(RunningTest, AnEncoderWithoutAudioGetsNoSentChar)
{
    CodecLog* codec = LoadCodecs({"DGcodecsilent.so"});
    Start(32, kTransmit | kReceive);
    for (char16_t unit : std::u16string(u"xyz"))
        api.SendDGCharW(unit);
    ASSERT_TRUE(rz::test::harness::WaitUntil([&] { return codec->encodedUnits.count == 3; }, 10s));
    // Idle comes after the last post of the pass.
    ASSERT_TRUE(rz::test::harness::WaitUntil([&] { return api.IsDGSendIdle() == 1; }, 10s));
    host.Drain();
    EXPECT_TRUE(SentChars().empty());
}

TEST_F(RunningTest, SendIdleFollowsTheQueueAndHasData)
{
    CodecLog* codec = LoadCodecs({"DGcodecwide.so"});
    Start(1, kReceive);
    EXPECT_EQ(api.IsDGSendIdle(), 1);
    api.SendDGCharW(0xFFFF);
    EXPECT_EQ(api.IsDGSendIdle(), 1);
    api.SendDGCharW(u'q');
    EXPECT_EQ(api.IsDGSendIdle(), 0);
    codec->hasData = 1;
    api.SetDGSoundMode(kTransmit | kReceive, -1);
    ASSERT_TRUE(host.PumpUntil([&] { return SentChars().size() == 1; }, 10s));
    EXPECT_EQ(api.IsDGSendIdle(), 0);
    codec->hasData = 0;
    EXPECT_TRUE(rz::test::harness::WaitUntil([&] { return api.IsDGSendIdle() == 1; }, 10s));
    EXPECT_EQ(SentChars(), (std::vector<uint32_t>{'q'}));
}

TEST_F(RunningTest, CharactersWithoutAModeAreDropped)
{
    LoadCodecs({"DGcodecwide.so"});
    api.SetDGFreq(8000.0);
    api.SetDGSoundMode(kReceive, -1);
    api.SendDGCharW(u'a');
    api.SendDGCharA('b');
    EXPECT_EQ(api.IsDGSendIdle(), 1);
    api.SetRUZada(1);
    api.SetDGSoundMode(kTransmit | kReceive, -1);
    api.SendDGCharW(u'c');
    ASSERT_TRUE(host.PumpUntil([&] { return SentChars().size() == 1; }, 10s));
    ASSERT_TRUE(rz::test::harness::WaitUntil([&] { return api.IsDGSendIdle() == 1; }, 10s));
    host.Drain();
    EXPECT_EQ(SentChars(), (std::vector<uint32_t>{'c'}));
}

// Two host threads switch modes and the sound mode and send characters while
// audio runs, for three seconds: nothing deadlocks, and every character comes out
// once, in order. A character sent while a mode is being selected has no mode to
// go to, so the host's threads take turns at those two calls.
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
    ASSERT_TRUE(rz::test::harness::WaitUntil([&] { return codec->twiddleWanted.count >= kCalls; }, 60s));
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

// The samples of a 16-bit mono WAV file.
std::vector<int16_t> WavSamples(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    // After "RIFF", its length and "WAVE": chunks of an id, a length and the data.
    for (size_t at = 12; at + 8 <= bytes.size();) {
        uint32_t length = 0;
        std::memcpy(&length, bytes.data() + at + 4, sizeof length);
        if (bytes.compare(at, 4, "data") == 0) {
            std::vector<int16_t> samples(std::min<size_t>(length, bytes.size() - at - 8) / 2);
            std::memcpy(samples.data(), bytes.data() + at + 8, samples.size() * 2);
            return samples;
        }
        at += 8 + length + (length & 1);
    }
    return {};
}

// Each block played starts with the last sample of the block before, kept back:
// the stream goes on without a seam and one sample late, its first sample 0.
TEST_F(RunningTest, PlayedStreamIsContinuousAndOneSampleLate)
{
    setenv("RUZADA_AUDIO_OUT", PathOf("played.wav").c_str(), 1);
    CodecLog* codec = LoadCodecs({"DGcodecwide.so"}, "", "file");
    codec->twiddleSignal = TwiddleSignal::Ramp;
    Start(1, kTransmit);
    // The third call comes once most of two blocks have played.
    ASSERT_TRUE(rz::test::harness::WaitUntil([&] { return codec->twiddleWanted.count >= 3; }, 30s));
    api.SetDGFreq(0.0);
    const std::vector<int16_t> played = WavSamples(PathOf("played.wav"));
    ASSERT_GT(played.size(), static_cast<size_t>(codec->twiddleWanted.entries[0]) + 1);
    std::vector<int16_t> expected = {0};
    for (long i = 0; expected.size() < played.size(); ++i)
        expected.push_back(RampSample(i));
    EXPECT_EQ(played, expected);
}

}  // namespace
}  // namespace rz::test::host
