#include "CwSettings.h"

#include <algorithm>

namespace rz::cw {

namespace {

bool InRange(int value, int low, int high) { return value >= low && value <= high; }

}  // namespace

CwSettings SettingsFromValues(int carrierHz, int wpm, int farnsworthWpm, int afc, int squelch)
{
    CwSettings settings;
    if (InRange(carrierHz, kMinCarrierHz, kMaxCarrierHz))
        settings.carrierHz = carrierHz;
    if (InRange(wpm, kMinWpm, kMaxWpm))
        settings.wpm = wpm;
    if (InRange(farnsworthWpm, kMinWpm, settings.wpm - 1))
        settings.farnsworthWpm = farnsworthWpm;
    settings.afc = afc != 0;
    if (InRange(squelch, 0, 100))
        settings.squelch = squelch;
    return settings;
}

double ClampCarrier(double hz) { return std::clamp(hz, double{kMinCarrierHz}, double{kMaxCarrierHz}); }

int ClampWpm(int wpm) { return std::clamp(wpm, kMinWpm, kMaxWpm); }

int ClampFarnsworth(int farnsworthWpm, int wpm)
{
    return farnsworthWpm <= 0 ? 0 : std::clamp(farnsworthWpm, kMinWpm, wpm);
}

int ClampSquelch(int squelch) { return std::clamp(squelch, 0, 100); }

}  // namespace rz::cw
