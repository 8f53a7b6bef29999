// Looks at generated RTTY audio: which tone a stretch holds, whether the
// waveform ever jumps, and how much of its power leaves the channel.
#ifndef RTTY_TEST_SIGNAL_PROBE_H
#define RTTY_TEST_SIGNAL_PROBE_H

#include <cstdint>
#include <vector>

#include "RttyTones.h"

namespace rz::rtty::testing {

// Power of `hz` in `count` samples (Goertzel).
double TonePower(const int16_t* samples, int count, double hz);

// True when the stretch holds more of the mark tone than of the space tone.
bool HoldsMark(const int16_t* samples, int count, Tones tones);

// How far each sample strays from continuing a sine of a frequency between the
// tones through its two neighbours; small everywhere for continuous-phase FSK,
// large at a jump.
double LargestStray(const std::vector<int16_t>& samples, Tones tones);

// The share of the power further than `halfWidthHz` from `centreHz`, from the
// averaged spectrum (Hann-windowed transforms of 4096 samples, half overlapping).
double OutOfChannelShare(const std::vector<int16_t>& samples, double centreHz, double halfWidthHz);

}  // namespace rz::rtty::testing

#endif
