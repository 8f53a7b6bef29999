// Signal format shared by the RTTY transmitter and receiver: ITA2 characters at
// 45.45 baud (22 ms bits), one start bit, five data bits sent least significant
// first, 1.5 stop bits, at the module's 8000 samples per second.
#ifndef RTTY_TIMING_H
#define RTTY_TIMING_H

namespace rz::rtty {

inline constexpr int kSampleRate = 8000;
inline constexpr int kSamplesPerBit = 176;
inline constexpr int kDataBits = 5;
inline constexpr int kStopSamples = kSamplesPerBit * 3 / 2;
inline constexpr int kCharSamples = kSamplesPerBit * (1 + kDataBits) + kStopSamples;

}  // namespace rz::rtty

#endif
