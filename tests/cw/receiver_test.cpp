// The receiver: exact copy at every speed and in blocks of any size, what it
// survives (hand-sent timing, Farnsworth spacing, mistuning, noise),
// and what must print nothing: silence, noise, a carrier, PSK31.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "CwChannel.h"
#include "CwTiming.h"

namespace {

using namespace rz::cw::testing;
using rz::cw::ReceiverSettings;
using Audio = std::vector<int16_t>;

constexpr int kMargin = 8000;
constexpr char kWarmUp[] = "VVV VVV ";

ReceiverSettings Receiver(double carrierHz = kCarrierHz, bool afc = true)
{
    return ReceiverSettings{carrierHz, afc, rz::cw::kDefaultWpm, 35};
}

int16_t Clamped(double value) { return static_cast<int16_t>(std::clamp(std::lround(value), -32768L, 32767L)); }

TEST(CwReceiver, CopiesEveryCharacterFrom12To40WpmAndInBlocksOfAnySize)
{
    for (const int wpm : {12, 20, 30, 40})
        EXPECT_EQ(ReceiveText(KeyText(kEveryCharacter, wpm), Receiver()), kEveryCharacter) << wpm << " WPM";
    const Audio audio = KeyText(kEveryCharacter, 25);
    for (const int block : {1, 7, 65536})
        EXPECT_EQ(ReceiveText(audio, Receiver(), block), kEveryCharacter) << "blocks of " << block;
}

// Speeds far from the one expected, and Farnsworth spacing, are learned within
// the first word; what follows copies exactly.
TEST(CwReceiver, LearnsUnexpectedTimingWithinAWarmUp)
{
    const std::string text = "CQ DE DL2XYZ 599 <KN>";
    const struct {
        int wpm;
        int farnsworthWpm;
    } senders[] = {{8, 0}, {45, 0}, {20, 10}};
    for (const auto& sender : senders) {
        const std::string received =
            ReceiveText(KeyText(std::string(kWarmUp) + text, sender.wpm, sender.farnsworthWpm), Receiver());
        ASSERT_GE(received.size(), text.size()) << sender.wpm << " WPM: " << received;
        EXPECT_EQ(received.substr(received.size() - text.size()), text) << sender.wpm << " WPM: " << received;
    }
}

TEST(CwReceiver, CopiesHandSentCodeWithAtMostTwoPercentErrors)
{
    const std::string text = std::string(kEveryCharacter) + " " + kEveryCharacter;
    const struct {
        double weight;
        uint64_t seed;
    } hands[] = {{0.0, 1}, {0.0, 2}, {0.2, 3}, {-0.1, 4}};
    for (const auto& h : hands) {
        Hand hand;
        hand.weight = h.weight;
        hand.seed = h.seed;
        const std::string received = ReceiveText(Render(HandKeying(text, hand), kCarrierHz), Receiver());
        EXPECT_LE(CharacterErrorRate(text, received), 0.02) << "weight " << h.weight << ": " << received;
    }
}

TEST(CwReceiver, CopiesThroughImpairedChannels)
{
    const std::string text = kEveryCharacter;
    const struct {
        const char* channel;
        std::function<Audio()> audio;
        ReceiverSettings receiver;
        double errorRate;
    } cases[] = {
        {"90 Hz high", [&] { return KeyText(text, 20, 0, kCarrierHz + 90.0); }, Receiver(), 0.0},
        {"95 Hz low", [&] { return KeyText(text, 20, 0, kCarrierHz - 95.0); }, Receiver(), 0.0},
        {"carrier at 1500 Hz", [&] { return KeyText(text, 20, 0, 1500.0); }, Receiver(1500.0), 0.0},
        {"noise at -6 dB", [&] { return AddNoise(KeyText(text, 20), -6.0, 1, kMargin, kMargin, kKeyDownPower); }, Receiver(), 0.02},
    };
    for (const auto& c : cases) {
        const std::string received = ReceiveText(c.audio(), c.receiver);
        EXPECT_LE(CharacterErrorRate(text, received), c.errorRate) << c.channel << ": " << received;
    }
}

TEST(CwReceiver, ListensWhereTunedWithoutFrequencyControl)
{
    const Audio audio = AddNoise(KeyText("CQ CQ DE DL2XYZ", 20, 0, kCarrierHz + 60.0), 10.0, 3, kMargin, kMargin, kKeyDownPower);
    EXPECT_EQ(ReceiveText(audio, Receiver(kCarrierHz + 60.0, false)), "CQ CQ DE DL2XYZ");
    EXPECT_EQ(ReceiveText(audio, Receiver(kCarrierHz + 200.0, false)), "");
}

// BPSK31 on the carrier: random bits, a phase reversal for each zero, cosine-shaped.
Audio Bpsk31(int seconds, uint64_t seed)
{
    std::mt19937_64 random(seed);
    const int symbol = rz::cw::kSampleRate * 32 / 1000;
    Audio audio(static_cast<size_t>(seconds * rz::cw::kSampleRate));
    double phase = 1.0;
    double previous = 1.0;
    for (size_t n = 0; n < audio.size(); ++n) {
        const size_t at = n % static_cast<size_t>(symbol);
        if (at == 0) {
            previous = phase;
            phase = random() % 2 == 0 ? -phase : phase;
        }
        const double shape = 0.5 + 0.5 * std::cos(std::numbers::pi * static_cast<double>(at) / symbol);
        const double amplitude = previous * shape + phase * (1.0 - shape);
        audio[n] = Clamped(kToneAmplitude * amplitude * std::sin(2.0 * std::numbers::pi * kCarrierHz * n / 8000.0));
    }
    return audio;
}

TEST(CwReceiver, PrintsNothingForSilenceNoiseCarriersAndPsk)
{
    std::mt19937_64 random(5);
    Audio fullScale(30 * rz::cw::kSampleRate);
    std::uniform_int_distribution<int> anyValue(-32768, 32767);
    for (int16_t& s : fullScale)
        s = static_cast<int16_t>(anyValue(random));
    Audio carrier(fullScale.size());
    for (size_t n = 0; n < carrier.size(); ++n)
        carrier[n] = Clamped(kToneAmplitude * std::sin(2.0 * std::numbers::pi * 730.0 * n / 8000.0));
    const struct {
        const char* input;
        Audio audio;
    } cases[] = {
        {"silence", Audio(fullScale.size(), 0)},
        {"full-scale noise", fullScale},
        {"quiet noise", AddNoise(Audio(fullScale.size(), 0), 60.0, 6, 0, 0, kKeyDownPower)},
        {"loud noise", AddNoise(Audio(fullScale.size(), 0), -10.0, 7, 0, 0, kKeyDownPower)},
        {"a steady carrier in noise", AddNoise(carrier, 0.0, 8, 0, 0, kKeyDownPower)},
        {"BPSK31", AddNoise(Bpsk31(30, 9), 10.0, 9, 0, 0, kKeyDownPower)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ReceiveText(c.audio, Receiver()), "") << c.input;
}

}  // namespace
