// The receiver: what it copies exactly and what it survives: noise,
// mistuning, level steps, unequal tones, senders from 45 to 46 baud (ours,
// minimodem's and recordings of fldigi's); silence and noise alone decode to
// nothing. (Joining a stream midway is dgterm's session tuning onto a signal.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <numbers>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "Minimodem.h"
#include "RttyChannel.h"
#include "RttyTiming.h"
#include "RttyWav.h"

namespace {

using namespace rz::rtty::testing;
using rz::rtty::kCharSamples;
using Audio = std::vector<int16_t>;

constexpr int kIdle = 2 * kCharSamples;
constexpr int kMargin = 8000;

std::string Repeated(const std::string& text, int times)
{
    std::string all;
    for (int i = 0; i < times; ++i)
        all += text;
    return all;
}

// The first four lines of the sensitivity bench's message, as fldigi sent them.
constexpr char kBenchLines[] =
    "CQ CQ CQ DE DL2XYZ DL2XYZ PSE K\r\nTHE QUICK BROWN FOX JUMPS OVER THE LAZY DOG 1234567890\r\n"
    "UR RST 599 5NN QTH JENA, NAME KARL. WX: 21C & SUNNY!\r\nRIG 100W (DIPOLE) /P? $73 #42 \"QSL\" VIA BURO; TNX "
    "'OM'\r\n\r\n";

// A recording of fldigi's transmissions (data/).
Audio Recording(const char* name)
{
    const std::optional<Audio> audio = ReadWav(std::string(RTTY_TEST_DATA) + "/" + name);
    EXPECT_TRUE(audio.has_value()) << name;
    return audio.value_or(Audio{});
}

int16_t Clamped(double value) { return static_cast<int16_t>(std::clamp(std::lround(value), -32768L, 32767L)); }

// A peaking filter (Q 8) with `gainDb` at `hz`: one tone down, the other barely touched.
Audio WithDip(Audio audio, double hz, double gainDb)
{
    const double w = 2.0 * std::numbers::pi * hz / rz::rtty::kSampleRate;
    const double amplitude = std::pow(10.0, gainDb / 40.0);
    const double alpha = std::sin(w) / (2.0 * 8.0);
    const double a0 = 1.0 + alpha / amplitude;
    const double b0 = (1.0 + alpha * amplitude) / a0;
    const double b1 = -2.0 * std::cos(w) / a0;
    const double b2 = (1.0 - alpha * amplitude) / a0;
    const double a2 = (1.0 - alpha / amplitude) / a0;
    double x1 = 0.0, x2 = 0.0, y1 = 0.0, y2 = 0.0;
    for (int16_t& s : audio) {
        const double y = b0 * s + b1 * x1 + b2 * x2 - b1 * y1 - a2 * y2;
        x2 = x1;
        x1 = s;
        y2 = y1;
        y1 = y;
        s = Clamped(y);
    }
    return audio;
}

// The level drops 34 dB for the middle third and comes back 6 dB louder.
Audio WithLevelSteps(Audio audio)
{
    const size_t third = audio.size() / 3;
    for (size_t i = third; i < audio.size(); ++i)
        audio[i] = Clamped(audio[i] * (i < 2 * third ? 0.02 : 2.0));
    return audio;
}

TEST(RttyReceiver, CopiesThroughImpairedChannels)
{
    const struct {
        const char* channel;
        int repeats;
        double offsetHz;
        std::function<Audio(const Audio&)> impair;
        double errorRate;
    } cases[] = {
        {"noise at -6 dB", 4, 0.0, [](const Audio& a) { return AddNoise(a, -6.0, 1, kMargin, kMargin); }, 0.005},
        {"20 Hz high", 2, 20.0, [](const Audio& a) { return AddNoise(a, -3.0, 2, kMargin, 0); }, 0.0},
        {"20 Hz low", 2, -20.0, [](const Audio& a) { return AddNoise(a, -3.0, 2, kMargin, 0); }, 0.0},
        {"level steps", 3, 0.0, [](const Audio& a) { return WithLevelSteps(AddNoise(a, 6.0, 3, kMargin, kMargin)); },
         0.0},
        // Compared plainly, the faded space tone loses to noise on about half the characters.
        {"space tone 15 dB down", 2, 0.0,
         [](const Audio& a) { return AddNoise(WithDip(a, kDefaultTones.spaceHz, -15.0), 0.0, 4, kMargin, kMargin); },
         0.0},
    };
    for (const auto& c : cases) {
        const std::string text = Repeated(kEveryCharacter, c.repeats);
        const rz::rtty::Tones sent{kDefaultTones.markHz + c.offsetHz, kDefaultTones.spaceHz + c.offsetHz};
        EXPECT_LE(CharacterErrorRate(text, ReceiveText(c.impair(TransmitText(text, sent, kIdle)))), c.errorRate)
            << c.channel;
    }
}

TEST(RttyReceiver, FollowsSendersFromFortyFiveToFortySixBaudWithoutBeingTold)
{
    const std::string text = Repeated(kEveryCharacter, 2);
    struct Sender {
        std::string name;
        std::string text;
        Audio audio;
    };
    std::vector<Sender> senders;
    for (double baud : {45.0, 46.0})
        senders.push_back({std::to_string(baud), text, TransmitText(text, kDefaultTones, kIdle, {8000.0 / baud, 3})});
    // fldigi at its default of 45 baud and at the standard 45.45, recorded.
    for (const char* file : {"fldigi_45baud.wav", "fldigi_4545baud.wav"})
        senders.push_back({file, kBenchLines, Recording(file)});
    // minimodem's clock 2 % slow and 2 % fast.
    if (const std::optional<std::string> minimodem = FindMinimodem()) {
        const std::string path = ::testing::TempDir() + "/minimodem-baud.wav";
        for (const char* baud : {"44.54", "46.36"}) {
            ASSERT_TRUE(MinimodemTransmit(*minimodem, text, path, baud));
            senders.push_back({std::string("minimodem ") + baud, text, ReadWav(path).value_or(Audio{})});
        }
    } else if (getenv("CI") != nullptr) {
        FAIL() << "minimodem is not installed";
    }
    for (const auto& [sender, sent, audio] : senders) {
        EXPECT_EQ(ReceiveText(audio), sent) << sender;
        EXPECT_LE(CharacterErrorRate(sent, ReceiveText(AddNoise(audio, -6.0, 7, kMargin, kMargin))), 0.012) << sender;
    }
}

TEST(RttyReceiver, SilenceAndNoiseAloneDecodeToNothing)
{
    std::mt19937_64 random(5);
    std::uniform_int_distribution<int> anyValue(-32768, 32767);
    std::normal_distribution<double> gauss;
    // Digital silence, Gaussian noise from barely above it to loud, and full scale.
    for (double rms : {0.0, 2.0, 20.0, 3000.0, -1.0}) {
        Audio audio(60 * rz::rtty::kSampleRate);
        for (int16_t& s : audio)
            s = rms < 0.0 ? static_cast<int16_t>(anyValue(random)) : Clamped(rms * gauss(random));
        EXPECT_EQ(ReceiveText(audio), "") << "noise of rms " << rms;
    }
}

}  // namespace
