#include "CwChannel.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>

#include "CwKeyer.h"
#include "CwTiming.h"
#include "MorseCode.h"

namespace rz::cw::testing {

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr double kEdgeSeconds = 0.005;

int16_t Clamped(double value) { return static_cast<int16_t>(std::clamp(std::lround(value), -32768L, 32767L)); }

// The characters and word gaps of `text`, through the snap-in's text encoder.
std::vector<MorseTextEncoder::Token> Tokens(const std::string& text)
{
    MorseTextEncoder encoder;
    std::vector<MorseTextEncoder::Token> tokens;
    for (const char ch : text)
        encoder.Put(static_cast<unsigned char>(ch), tokens);
    return tokens;
}

}  // namespace

std::vector<Segment> MachineKeying(const std::string& text, double wpm)
{
    Hand exact;
    exact.wpm = wpm;
    exact.jitter = 0.0;
    exact.drift = 0.0;
    exact.minRatio = exact.maxRatio = 3.0;
    return HandKeying(text, exact);
}

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
    for (const MorseTextEncoder::Token& token : Tokens(text)) {
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

Gain RayleighFading(double dopplerHz, uint64_t seed)
{
    constexpr int kPaths = 16;
    std::mt19937_64 random(seed);
    std::uniform_real_distribution<double> angle(0.0, kTwoPi);
    std::vector<std::pair<double, double>> paths;
    for (int i = 0; i < kPaths; ++i)
        paths.emplace_back(kTwoPi * dopplerHz * std::cos(angle(random)), angle(random));
    return [paths](double t) {
        std::complex<double> sum;
        for (const auto& [omega, phase] : paths)
            sum += std::polar(1.0, omega * t + phase);
        return sum / std::sqrt(static_cast<double>(paths.size()));
    };
}

std::vector<int16_t> Render(const std::vector<Segment>& keying, double carrierHz, const Gain& gain)
{
    double total = 0.0;
    for (const Segment& segment : keying)
        total += segment.seconds;
    std::vector<int16_t> audio(static_cast<size_t>(std::ceil((total + kEdgeSeconds) * kSampleRate)));
    // Each key change is a raised-cosine step starting where the change is.
    std::vector<std::pair<double, bool>> changes;
    double at = 0.0;
    bool state = false;
    for (const Segment& segment : keying) {
        if (segment.keyDown != state) {
            changes.emplace_back(at, segment.keyDown);
            state = segment.keyDown;
        }
        at += segment.seconds;
    }
    if (state)
        changes.emplace_back(at, false);
    size_t change = 0;
    double level = 0.0;
    double lastEdge = -1.0;
    bool rising = false;
    for (size_t n = 0; n < audio.size(); ++n) {
        const double t = static_cast<double>(n) / kSampleRate;
        while (change < changes.size() && t >= changes[change].first) {
            lastEdge = changes[change].first;
            rising = changes[change].second;
            ++change;
        }
        if (lastEdge >= 0.0) {
            const double x = std::min((t - lastEdge) / kEdgeSeconds, 1.0);
            const double step = 0.5 - 0.5 * std::cos(std::numbers::pi * x);
            level = rising ? step : 1.0 - step;
        }
        const std::complex<double> g = gain ? gain(t) : std::complex<double>(1.0);
        const double phase = kTwoPi * carrierHz * t;
        audio[n] = Clamped(kToneAmplitude * level * (g.real() * std::sin(phase) + g.imag() * std::cos(phase)));
    }
    return audio;
}

std::vector<int16_t> KeyText(const std::string& text, double wpm, int farnsworthWpm, double carrierHz, int tailSamples)
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
    const size_t idleStart = audio.size();
    audio.resize(idleStart + static_cast<size_t>(tailSamples));
    keyer.RenderIdle(audio.data() + idleStart, tailSamples);
    return audio;
}

ReceiverSettings DefaultReceiver() { return ReceiverSettings{kCarrierHz, true, kDefaultWpm, 35}; }

std::string ReceiveText(const std::vector<int16_t>& samples, const ReceiverSettings& settings, int block)
{
    CwReceiver receiver(settings);
    std::vector<int16_t> stream = samples;
    // The lookahead and the longest gap that ends a character at the slowest speed.
    stream.resize(stream.size() + 3 * kSampleRate);
    std::string text;
    char chars[64];
    for (size_t at = 0; at < stream.size(); at += static_cast<size_t>(block)) {
        const int count = static_cast<int>(std::min<size_t>(static_cast<size_t>(block), stream.size() - at));
        receiver.Process(stream.data() + at, count);
        for (int n; (n = receiver.TakeText(chars, 64)) > 0;)
            text.append(chars, static_cast<size_t>(n));
    }
    return text;
}

}  // namespace rz::cw::testing
