// How much of a signal's power lies outside its channel, from its averaged
// spectrum (Hann-windowed transforms of 4096 samples, half overlapping).
#ifndef RTTY_TEST_SPECTRUM_PROBE_H
#define RTTY_TEST_SPECTRUM_PROBE_H

#include <cstdint>
#include <vector>

namespace rz::rtty::testing {

// The share of the power further than `halfWidthHz` from `centreHz`.
double OutOfChannelShare(const std::vector<int16_t>& samples, double centreHz, double halfWidthHz);

}  // namespace rz::rtty::testing

#endif
