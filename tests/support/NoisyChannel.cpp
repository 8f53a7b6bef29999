#include "NoisyChannel.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace rz::test::support {

namespace {

constexpr double kMixRms = 3500.0;

double MeanPower(const std::vector<int16_t>& signal)
{
    double power = 0.0;
    for (const int16_t s : signal)
        power += static_cast<double>(s) * s;
    return power / static_cast<double>(std::max<size_t>(signal.size(), 1));
}

}  // namespace

std::vector<int16_t> AddNoise(const std::vector<int16_t>& signal, double snrDb, uint64_t seed, int leadSamples,
                              int tailSamples, std::optional<double> signalPower)
{
    const double power = signalPower.value_or(MeanPower(signal));
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

}  // namespace rz::test::support
