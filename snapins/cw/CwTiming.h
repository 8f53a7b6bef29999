// Morse timing at the module's 8000 samples per second: the dot of a speed in
// words per minute (PARIS, 50 dots a word) and the gaps of Farnsworth spacing.
#ifndef CW_TIMING_H
#define CW_TIMING_H

namespace rz::cw {

inline constexpr int kSampleRate = 8000;
inline constexpr int kMinWpm = 5;
inline constexpr int kMaxWpm = 50;
inline constexpr int kDefaultWpm = 20;

// One dot is 1.2 s divided by the speed.
inline constexpr double DotSeconds(double wpm) { return 1.2 / wpm; }

// Gaps in samples for sending at `wpm`; with `farnsworthWpm` between kMinWpm and
// `wpm` (exclusive) the characters keep their speed and the gaps between
// characters and words stretch so that text goes at the slower speed (ARRL).
struct Spacing {
    int dot;
    int charGap;
    int wordGap;
};

inline Spacing SpacingFor(int wpm, int farnsworthWpm)
{
    const double dot = DotSeconds(wpm) * kSampleRate;
    if (farnsworthWpm < kMinWpm || farnsworthWpm >= wpm)
        return {static_cast<int>(dot + 0.5), static_cast<int>(3 * dot + 0.5), static_cast<int>(7 * dot + 0.5)};
    // A word of PARIS holds 31 dots of characters and 19 of gaps; the gaps take what the slower speed leaves.
    const double gapsSeconds = (60.0 * wpm - 37.2 * farnsworthWpm) / (static_cast<double>(wpm) * farnsworthWpm);
    const double gapUnit = gapsSeconds / 19.0 * kSampleRate;
    return {static_cast<int>(dot + 0.5), static_cast<int>(3 * gapUnit + 0.5), static_cast<int>(7 * gapUnit + 0.5)};
}

}  // namespace rz::cw

#endif
