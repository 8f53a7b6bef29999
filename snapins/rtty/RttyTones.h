// The two audio tones of the RTTY signal.
#ifndef RTTY_TONES_H
#define RTTY_TONES_H

namespace rz::rtty {

struct Tones {
    double markHz;
    double spaceHz;

    bool operator==(const Tones&) const = default;
};

inline constexpr int kDefaultMarkHz = 1585;
inline constexpr int kDefaultShiftHz = 170;

}  // namespace rz::rtty

#endif
