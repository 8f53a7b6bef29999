// The two audio tones of the RTTY signal and how they follow the settings.
#ifndef RTTY_TONES_H
#define RTTY_TONES_H

namespace rz::rtty {

struct Tones {
    double markHz;
    double spaceHz;
};

inline constexpr int kDefaultMarkHz = 1585;
inline constexpr int kDefaultShiftHz = 170;
// Both tones stay inside the voice channel, with room for the filters below 4000 Hz.
inline constexpr int kMinToneHz = 300;
inline constexpr int kMaxToneHz = 3500;
// Below about one baud the two tone filters overlap; above 1000 Hz no RTTY is sent.
inline constexpr int kMinShiftHz = 50;
inline constexpr int kMaxShiftHz = 1000;

// Space lies `shiftHz` below mark; `reverse` swaps the two. A mark frequency or
// shift out of range, or a pair whose space tone would fall out of range, is
// replaced by its default.
Tones TonesFromSettings(int markHz, int shiftHz, bool reverse);

}  // namespace rz::rtty

#endif
