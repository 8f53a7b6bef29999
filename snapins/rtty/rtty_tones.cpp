#include "rtty_tones.h"

namespace rz::rtty {

namespace {

bool InRange(int value, int low, int high) { return value >= low && value <= high; }

}  // namespace

Tones TonesFromSettings(int markHz, int shiftHz, bool reverse)
{
    if (!InRange(markHz, kMinToneHz, kMaxToneHz))
        markHz = kDefaultMarkHz;
    if (!InRange(shiftHz, kMinShiftHz, kMaxShiftHz))
        shiftHz = kDefaultShiftHz;
    if (markHz - shiftHz < kMinToneHz) {
        markHz = kDefaultMarkHz;
        shiftHz = kDefaultShiftHz;
    }
    const double mark = markHz;
    const double space = markHz - shiftHz;
    return reverse ? Tones{space, mark} : Tones{mark, space};
}

}  // namespace rz::rtty
