#include "rtty_channel.h"

#include <algorithm>
#include <cmath>
#include <random>

#include "RttyReceiver.h"
#include "RttyTiming.h"
#include "RttyTransmitter.h"

namespace rz::rtty::testing {

namespace {

// Root-mean-square level of the noisy mix: peaks of eight times this still fit.
constexpr double kMixRms = 3500.0;

}  // namespace

std::vector<int16_t> TransmitText(const std::string& text, Tones tones, int idleSamples, BitTiming timing)
{
    // Lead-in and `text` in batches of 19 characters, as the module encodes them.
    RttyTransmitter transmitter(tones, timing);
    transmitter.BeginOver();
    std::vector<int16_t> audio;
    std::vector<int16_t> block(kEncodeCapacity);
    for (size_t i = 0; i < text.size(); i += kEncodeBatch) {
        for (size_t j = i; j < std::min(text.size(), i + kEncodeBatch); ++j)
            transmitter.QueueChar(static_cast<unsigned char>(text[j]));
        audio.insert(audio.end(), block.begin(), block.begin() + transmitter.Render(block.data(), kEncodeCapacity));
    }
    const size_t idleStart = audio.size();
    audio.resize(idleStart + static_cast<size_t>(idleSamples));
    transmitter.RenderIdle(audio.data() + idleStart, idleSamples);
    return audio;
}

std::string ReceiveText(const std::vector<int16_t>& samples, Tones tones, int block, BitTiming timing,
                        bool unshiftOnSpace)
{
    RttyReceiver receiver(tones, timing, unshiftOnSpace);
    std::vector<int16_t> stream = samples;
    stream.resize(stream.size() + static_cast<size_t>(receiver.MaxDecisionDelay()));
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

std::vector<int16_t> AddNoise(const std::vector<int16_t>& signal, double snrDb, uint64_t seed, int leadSamples,
                              int tailSamples)
{
    double power = 0.0;
    for (int16_t s : signal)
        power += static_cast<double>(s) * s;
    power /= static_cast<double>(std::max<size_t>(signal.size(), 1));
    const double sigma = std::sqrt(power / std::pow(10.0, snrDb / 10.0));
    const double scale = kMixRms / std::sqrt(power + sigma * sigma);

    std::mt19937_64 random(seed);
    std::normal_distribution<double> noise(0.0, sigma);
    std::vector<int16_t> mix(signal.size() + static_cast<size_t>(leadSamples + tailSamples));
    for (size_t i = 0; i < mix.size(); ++i) {
        const size_t at = i - static_cast<size_t>(leadSamples);
        const double s = i >= static_cast<size_t>(leadSamples) && at < signal.size() ? signal[at] : 0.0;
        mix[i] = static_cast<int16_t>(std::clamp(std::lround((s + noise(random)) * scale), -32768L, 32767L));
    }
    return mix;
}

double CharacterErrorRate(const std::string& sent, const std::string& received)
{
    std::vector<size_t> previous(received.size() + 1);
    std::vector<size_t> current(received.size() + 1);
    for (size_t j = 0; j <= received.size(); ++j)
        previous[j] = j;
    for (size_t i = 1; i <= sent.size(); ++i) {
        current[0] = i;
        for (size_t j = 1; j <= received.size(); ++j) {
            const size_t substitute = previous[j - 1] + (sent[i - 1] == received[j - 1] ? 0 : 1);
            current[j] = std::min({previous[j] + 1, current[j - 1] + 1, substitute});
        }
        std::swap(previous, current);
    }
    return sent.empty() ? 0.0 : static_cast<double>(previous[received.size()]) / static_cast<double>(sent.size());
}

}  // namespace rz::rtty::testing
