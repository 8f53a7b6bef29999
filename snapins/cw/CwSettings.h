// What the CW mode can be set to, from the settings file or at run time, and
// the limits of each value.
#ifndef CW_SETTINGS_H
#define CW_SETTINGS_H

#include "CwTiming.h"

namespace rz::cw {

inline constexpr int kDefaultCarrierHz = 700;
// The carrier, with the ±100 Hz the receiver searches, stays inside the voice channel.
inline constexpr int kMinCarrierHz = 300;
inline constexpr int kMaxCarrierHz = 3500;
inline constexpr int kDefaultSquelch = 35;

struct CwSettings {
    double carrierHz = kDefaultCarrierHz;
    int wpm = kDefaultWpm;
    int farnsworthWpm = 0;  // 0: off
    bool afc = true;
    int squelch = kDefaultSquelch;
};

// Values as the settings file gives them; each one out of range falls back to
// its default, and a Farnsworth speed not below the speed means off.
CwSettings SettingsFromValues(int carrierHz, int wpm, int farnsworthWpm, int afc, int squelch);

// Values as a host writes them: clamped to what the mode can do.
double ClampCarrier(double hz);
int ClampWpm(int wpm);
// 0 stays 0 (off); otherwise at least kMinWpm and at most `wpm`.
int ClampFarnsworth(int farnsworthWpm, int wpm);
int ClampSquelch(int squelch);

}  // namespace rz::cw

#endif
