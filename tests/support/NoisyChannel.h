// A channel with white Gaussian noise over the whole 0-4000 Hz band at 8000
// samples per second, from a fixed seed, so that a measurement can be repeated
// and another program can decode the very same audio.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace rz::test::support {

// `signal` with `leadSamples` of channel before and `tailSamples` after, plus
// noise `snrDb` below the signal's power: `signalPower` (in squared sample
// units) when given, else the mean power of `signal`. The mix is scaled so that
// signal power plus noise power is 3500² (peaks of eight times that still fit
// in 16 bits).
std::vector<int16_t> AddNoise(const std::vector<int16_t>& signal, double snrDb, uint64_t seed, int leadSamples,
                              int tailSamples, std::optional<double> signalPower = std::nullopt);

}  // namespace rz::test::support
