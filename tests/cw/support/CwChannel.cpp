#include "CwChannel.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>

#include "CwKeyer.h"
#include "CwTiming.h"
#include "MorseCode.h"
#include "ReceiveInBlocks.h"

namespace rz::cw::testing {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr double kEdgeSeconds = 0.005;

std::vector<Segment> HandKeying(const std::string& text, const Hand& hand)
{
    std::mt19937_64 random(hand.seed);
    std::uniform_real_distribution<double> error(1.0 - hand.jitter, 1.0 + hand.jitter);
    std::vector<Segment> keying;
    double now = 0.0;
    const auto add = [&](bool keyDown, double dots) {
        const double minute = std::fmod(now / 60.0, 2.0);
        const double speed = hand.wpm * (1.0 + hand.drift * (minute < 1.0 ? minute : 2.0 - minute));
        const double seconds = dots * DotSeconds(speed) * error(random);
        keying.push_back({keyDown, seconds});
        now += seconds;
    };
    const auto dashRatio = [&] {
        const double middle = 0.5 * (hand.minRatio + hand.maxRatio);
        return middle + 0.5 * (hand.maxRatio - hand.minRatio) * std::sin(kTwoPi * now / 45.0);
    };
    // The characters and word gaps of `text`, through the snap-in's text encoder.
    MorseTextEncoder encoder;
    std::vector<MorseTextEncoder::Token> tokens;
    for (const char ch : text)
        encoder.Put(static_cast<unsigned char>(ch), tokens);
    for (const MorseTextEncoder::Token& token : tokens) {
        if (token.pattern.empty()) {
            add(false, 4.0);
            continue;
        }
        for (size_t i = 0; i < token.pattern.size(); ++i) {
            add(true, (token.pattern[i] == '-' ? dashRatio() : 1.0) + hand.weight);
            add(false, i + 1 < token.pattern.size() ? 1.0 - hand.weight : 3.0);
        }
    }
    return keying;
}

std::vector<int16_t> Render(const std::vector<Segment>& keying, double carrierHz, const Gain& gain)
{
    const int edge = static_cast<int>(kEdgeSeconds * kSampleRate);
    std::vector<bool> keyDown;
    double end = 0.0;
    for (const Segment& segment : keying) {
        end += segment.seconds;
        keyDown.resize(static_cast<size_t>(std::lround(end * kSampleRate)), segment.keyDown);
    }
    keyDown.resize(keyDown.size() + static_cast<size_t>(edge), false);
    std::vector<int16_t> audio(keyDown.size());
    // Each change of the key starts a raised-cosine step from the level reached.
    double level = 0.0;
    double from = 0.0;
    int since = edge;
    for (size_t n = 0; n < audio.size(); ++n) {
        if (n > 0 && keyDown[n] != keyDown[n - 1]) {
            from = level;
            since = 0;
        }
        const double step = 0.5 - 0.5 * std::cos(std::numbers::pi * std::min(since++, edge) / edge);
        level = from + ((keyDown[n] ? 1.0 : 0.0) - from) * step;
        const double t = static_cast<double>(n) / kSampleRate;
        const std::complex<double> g = gain ? gain(t) : std::complex<double>(1.0);
        const double phase = kTwoPi * carrierHz * t;
        audio[n] = static_cast<int16_t>(
            std::clamp(std::lround(kToneAmplitude * level * (g.real() * std::sin(phase) + g.imag() * std::cos(phase))),
                       -32768L, 32767L));
    }
    return audio;
}

std::vector<int16_t> KeyText(const std::string& text, double wpm, int farnsworthWpm, double carrierHz)
{
    CwKeyer keyer(carrierHz, static_cast<int>(wpm), farnsworthWpm);
    std::vector<int16_t> audio;
    std::vector<int16_t> block(kEncodeCapacity);
    for (size_t i = 0; i < text.size() || keyer.HasData(); i += kEncodeBatch) {
        for (size_t j = i; j < std::min(text.size(), i + kEncodeBatch); ++j)
            keyer.QueueChar(static_cast<unsigned char>(text[j]));
        const int n = keyer.Render(block.data(), static_cast<int>(block.size()));
        audio.insert(audio.end(), block.begin(), block.begin() + n);
    }
    return audio;
}

ReceiverSettings Receiver(double carrierHz, bool afc) { return ReceiverSettings{carrierHz, afc, kDefaultWpm, 35}; }

std::string ReceiveText(const std::vector<int16_t>& samples, const ReceiverSettings& settings, int block)
{
    CwReceiver receiver(settings);
    // The lookahead and the longest gap that ends a character at the slowest speed.
    return test::support::ReceiveInBlocks<char>(receiver, samples, 3 * kSampleRate, block);
}

}  // namespace rz::cw::testing
