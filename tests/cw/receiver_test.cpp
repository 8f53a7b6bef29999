// The receiver: exact copy of independent senders and of our own keyer, what
// it survives (hand-sent timing, mistuning, noise), and what must print nothing.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <DGSnapin.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <numbers>
#include <optional>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "CwChannel.h"
#include "CwTiming.h"
#include "SnapinLibrary.h"

namespace {

using namespace rz::cw::testing;
using rz::cw::ReceiverSettings;
using Audio = std::vector<int16_t>;

constexpr int kMargin = 8000;

// fldigi's transmissions (recorded by bench/cw_sensitivity/cw_interop.py) and
// ebook2cw's Morse (Ogg Vorbis, 700 Hz), from a receiver that expects 20 WPM.
TEST(CwReceiver, CopiesIndependentSendersExactly)
{
    const std::optional<std::string> ebook2cw = FindProgram("ebook2cw");
    if (!ebook2cw && getenv("CI") != nullptr)
        FAIL() << "ebook2cw is not installed";
    const std::string text = "CQ CQ DE DL2XYZ PSE K <BT> 599 5NN 0123456789 . , ? / <AR> <SK> <KN>";
    for (const int wpm : {12, 20, 30, 40}) {
        const std::string name = std::string(CW_TEST_DATA) + "/fldigi-" + std::to_string(wpm) + "wpm";
        const std::optional<Audio> fldigi = ReadWav(name + ".flac");
        std::string sent;
        std::getline(std::ifstream(name + ".txt"), sent);
        EXPECT_EQ(fldigi ? ReceiveText(*fldigi, Receiver()) : "no " + name, sent) << "fldigi at " << wpm << " WPM";
        if (!ebook2cw)
            continue;
        const std::string dir = ::testing::TempDir();
        const std::string ogg = dir + "/ebook2cw-" + std::to_string(wpm);
        std::ofstream(dir + "/text.txt") << text << "\n";
        RunProgram({"env", "HOME=" + dir, *ebook2cw, "-O", "-s", "8000", "-f", "700", "-w", std::to_string(wpm), "-c",
                    "", "-o", ogg, dir + "/text.txt"});
        const std::optional<Audio> audio = ReadWav(ogg + ".ogg");
        EXPECT_EQ(audio ? ReceiveText(*audio, Receiver()) : "no audio", text) << "ebook2cw at " << wpm << " WPM";
    }
}

// Our keyer: speeds far from the one expected, and Farnsworth spacing, are
// learned within the first word; what follows copies exactly, in blocks of any size.
TEST(CwReceiver, CopiesOurKeyerAfterAWarmUpAtAnySpeedAndBlockSize)
{
    for (const auto& [wpm, farnsworthWpm, block] :
         {std::tuple{8, 0, kDecodeBlock}, {45, 0, 7}, {20, 10, 1}, {25, 0, 65536}})
        EXPECT_THAT(
            ReceiveText(KeyText("VVV VVV " + std::string(kEveryCharacter), wpm, farnsworthWpm), Receiver(), block),
            ::testing::EndsWith(std::string(" ") + kEveryCharacter))
            << wpm << " WPM, blocks of " << block;
}

TEST(CwReceiver, CopiesHandSentCodeWithAtMostTwoPercentErrors)
{
    const std::string text = std::string(kEveryCharacter) + " " + kEveryCharacter;
    for (const auto& [weight, seed] : {std::pair{0.0, 1}, {0.0, 2}, {0.2, 3}, {-0.1, 4}}) {
        const Hand hand{.weight = weight, .seed = static_cast<uint64_t>(seed)};
        const std::string received = ReceiveText(Render(HandKeying(text, hand), kCarrierHz), Receiver());
        EXPECT_LE(CharacterErrorRate(text, received), 0.02) << "weight " << weight << ": " << received;
    }
}

// 30 s of another mode's text, sent by its own snap-in on `hz`.
Audio OtherMode(const char* snapin, double hz)
{
    const rz::test::support::SnapinLibrary mode(snapin);
    mode.init(8000.0);
    mode.Write(DG_KEY_CARRIER, static_cast<int32_t>(10.0 * hz));
    Audio audio;
    Audio block(kEncodeCapacity);
    for (const std::string text = kEveryCharacter; audio.size() < 30 * 8000;) {
        const int n = mode.encodeA(block.data(), kEncodeCapacity, text.data(), static_cast<int>(text.size()));
        audio.insert(audio.end(), block.begin(), block.begin() + n);
    }
    return audio;
}

// What the receiver copies through impaired channels, and what must print nothing at all.
TEST(CwReceiver, CopiesThroughImpairedChannelsAndPrintsNothingForNoiseCarriersAndOtherModes)
{
    const std::string text = kEveryCharacter;
    std::mt19937_64 random(5);
    Audio fullScale(30 * rz::cw::kSampleRate);
    std::uniform_int_distribution<int> anyValue(-32768, 32767);
    for (int16_t& s : fullScale)
        s = static_cast<int16_t>(anyValue(random));
    const Audio silence(fullScale.size(), 0);
    // Fades to -14 dB twice a second: the threshold must come down with the marks.
    const Gain fading = [](double t) { return 1.0 - 0.4 * (1.0 + std::cos(std::numbers::pi * t)); };
    const Hand machine{.jitter = 0.0, .drift = 0.0, .minRatio = 3.0, .maxRatio = 3.0};
    const Audio signal =
        AddNoise(KeyText("CQ CQ DE DL2XYZ", 20, 0, kCarrierHz + 60.0), 10.0, 3, kMargin, kMargin, kKeyDownPower);
    // Between two overs a burst of clicks, 8 ms every 20 ms: shorter than any
    // sender's dot, so the timing learned must stay.
    std::vector<Segment> clicks = HandKeying(text, machine);
    clicks.push_back({false, 0.3});
    for (int i = 0; i < 40; ++i)
        clicks.insert(clicks.end(), {{true, 0.008}, {false, 0.012}});
    clicks.push_back({false, 0.3});
    for (const Segment& segment : HandKeying(text, machine))
        clicks.push_back(segment);
    const struct {
        const char* channel;
        Audio audio;
        ReceiverSettings receiver;
        std::string sent;  // empty: nothing may print
        double errorRate;
    } cases[] = {
        {"95 Hz low", KeyText(text, 20, 0, kCarrierHz - 95.0), Receiver(), text, 0.0},
        {"tuned to 1500 Hz without AFC", KeyText(text, 20, 0, 1500.0), Receiver(1500.0, false), text, 0.0},
        {"noise at -6 dB", AddNoise(KeyText(text, 20), -6.0, 1, kMargin, kMargin, kKeyDownPower), Receiver(), text,
         0.02},
        // Deep noise: copy, not rows of E and T.
        {"fading",
         AddNoise(Render(HandKeying(text, machine), kCarrierHz, fading), 20.0, 5, kMargin, kMargin, kKeyDownPower),
         Receiver(), text, 0.02},
        {"noise at -12 dB", AddNoise(KeyText(text + " " + text, 20), -12.0, 4, kMargin, kMargin, kKeyDownPower),
         Receiver(), text + " " + text, 0.8},
        {"clicks between two overs", AddNoise(Render(clicks, kCarrierHz), 20.0, 11, kMargin, kMargin, kKeyDownPower),
         Receiver(), text + " " + text, 0.0},
        {"silence", silence, Receiver(), "", 0.0},
        {"full-scale noise", fullScale, Receiver(), "", 0.0},
        {"quiet noise", AddNoise(silence, 60.0, 6, 0, 0, kKeyDownPower), Receiver(), "", 0.0},
        {"loud noise", AddNoise(silence, -10.0, 7, 0, 0, kKeyDownPower), Receiver(), "", 0.0},
        {"a steady carrier in noise", AddNoise(Render({{true, 30.0}}, 730.0), 0.0, 8, 0, 0, kKeyDownPower), Receiver(),
         "", 0.0},
        {"BPSK31", AddNoise(OtherMode(DGPSK_PATH, kCarrierHz), 10.0, 9, 0, 0, kKeyDownPower), Receiver(), "", 0.0},
        {"RTTY", AddNoise(OtherMode(DGRTTY_PATH, kCarrierHz + 85.0), 10.0, 10, 0, 0, kKeyDownPower), Receiver(), "",
         0.0},
        // Weak, where the sequence decoder reads: SNR of the signal's own power.
        {"BPSK31 at -14 dB", AddNoise(OtherMode(DGPSK_PATH, kCarrierHz), -14.0, 13, 0, 0), Receiver(), "", 0.0},
        {"BPSK31 at -10 dB", AddNoise(OtherMode(DGPSK_PATH, kCarrierHz), -10.0, 12, 0, 0), Receiver(), "", 0.0},
        {"a carrier at -14 dB", AddNoise(Render({{true, 30.0}}, 730.0), -14.0, 15, 0, 0), Receiver(), "", 0.0},
        {"a carrier at -18 dB", AddNoise(Render({{true, 30.0}}, 730.0), -18.0, 16, 0, 0), Receiver(), "", 0.0},
        {"CW 140 Hz away without AFC", signal, Receiver(kCarrierHz + 200.0, false), "", 0.0},
    };
    for (const auto& c : cases) {
        const std::string received = ReceiveText(c.audio, c.receiver);
        const double errors =
            c.sent.empty() ? static_cast<double>(received.size()) : CharacterErrorRate(c.sent, received);
        EXPECT_LE(errors, c.errorRate) << c.channel << ": " << received;
    }
}

}  // namespace
