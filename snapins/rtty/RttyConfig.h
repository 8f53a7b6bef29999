// Everything a user sets for the RTTY mode, in the units of the run-time controls
// (DGSnapin.h), read from the settings file, and kept within what the modem can do.
#ifndef RTTY_CONFIG_H
#define RTTY_CONFIG_H

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "RttyTiming.h"
#include "RttyTones.h"

namespace rz::rtty {

// Both tones stay inside the voice channel, with room for the filters below 4000 Hz.
inline constexpr int kMinToneHz = 300;
inline constexpr int kMaxToneHz = 3500;
// Below about one baud the two tone filters overlap; above 1000 Hz no RTTY is sent.
inline constexpr int kMinShiftHz = 50;
inline constexpr int kMaxShiftHz = 1000;
// The transmitter's tail holds its filter down to 40 baud; above 200 baud the
// tones of a narrow shift smear into one another.
inline constexpr int32_t kMinBaudHundredths = 4000;
inline constexpr int32_t kMaxBaudHundredths = 20000;
inline constexpr int32_t kStandardBaudHundredths = 4545;

struct RttyConfig {
    int32_t carrierTenths = (kDefaultMarkHz * 2 - kDefaultShiftHz) * 5;  // midway between the tones
    int32_t shiftHz = kDefaultShiftHz;
    bool reverse = false;  // mark below space
    int32_t baudHundredths = kStandardBaudHundredths;
    int32_t stopHalfBits = 3;
    bool unshiftOnSpace = true;
    bool afc = true;
    int32_t squelch = 0;  // signal quality below which nothing prints
    bool idle = true;     // letters shifts while there is nothing to send

    // Mark above space unless reversed, half a shift either side of the carrier.
    Tones ToTones() const;
    // 45.45 baud is the standard's 22 ms bit exactly.
    BitTiming ToTiming() const;
    bool operator==(const RttyConfig&) const = default;
};

// The carrier nearest `tenths` that keeps both tones of `shiftHz` in range.
int32_t ClampCarrier(int32_t tenths, int32_t shiftHz);
// The shift nearest `hz` that keeps both tones around `carrierTenths` in range.
int32_t ClampShift(int32_t hz, int32_t carrierTenths);

// The configuration that section RTTY of the settings file gives; `read` answers
// a key's text, or nothing when the key is absent. A value out of range falls
// back to its default.
RttyConfig ConfigFromSettings(const std::function<std::optional<std::string>(const char* key)>& read);

}  // namespace rz::rtty

#endif
