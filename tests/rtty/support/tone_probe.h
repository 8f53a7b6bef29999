// Looks at generated RTTY audio: which tone a stretch holds, and whether the
// waveform ever jumps.
#ifndef RTTY_TEST_TONE_PROBE_H
#define RTTY_TEST_TONE_PROBE_H

#include <cstdint>
#include <vector>

#include "rtty_tones.h"

namespace rz::rtty::testing {

// Power of `hz` in `count` samples (Goertzel).
double TonePower(const int16_t* samples, int count, double hz);

// True when the stretch holds more of the mark tone than of the space tone.
bool HoldsMark(const int16_t* samples, int count, Tones tones);

// How far each sample strays from continuing a sine of a frequency between the
// tones through its two neighbours; small everywhere for continuous-phase FSK,
// large at a jump.
double LargestStray(const std::vector<int16_t>& samples, Tones tones);

}  // namespace rz::rtty::testing

#endif
