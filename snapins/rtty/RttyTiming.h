// Signal format shared by the RTTY transmitter and receiver: ITA2 characters of
// one start bit, five data bits sent least significant first and a stop of one,
// one and a half or two bits, at the module's 8000 samples per second.
#ifndef RTTY_TIMING_H
#define RTTY_TIMING_H

namespace rz::rtty {

inline constexpr int kSampleRate = 8000;
inline constexpr int kDataBits = 5;

// The standard amateur signal: 45.45 baud (22 ms bits), 1.5 stop bits.
inline constexpr int kSamplesPerBit = 176;
inline constexpr int kStopSamples = kSamplesPerBit * 3 / 2;
inline constexpr int kCharSamples = kSamplesPerBit * (1 + kDataBits) + kStopSamples;

// Bit and stop length of one signal; bits need not be a whole number of samples.
struct BitTiming {
    double bitSamples = kSamplesPerBit;
    int stopHalfBits = 3;

    double CharBits() const { return 1 + kDataBits + stopHalfBits / 2.0; }
    double CharSamples() const { return bitSamples * CharBits(); }
    bool operator==(const BitTiming&) const = default;
};

// Length of the receiver's tone filters: a sixteenth of a bit longer than the bit.
// Reaching that little into the neighbouring bits takes in more of a tone that
// holds on (stop bits, runs of equal bits) than it lets the other tone leak in:
// measured, about 0.3 dB better than filters one bit long.
inline int ToneFilterLength(double bitSamples) { return static_cast<int>(bitSamples * 17.0 / 16.0 + 0.5); }

}  // namespace rz::rtty

#endif
