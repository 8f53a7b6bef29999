#include "RttyConfig.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace rz::rtty {

namespace {

constexpr int kTenthsPerHz = 10;
constexpr int kHundredthsPerBaud = 100;

// The number a setting's text holds, or nothing when it holds none.
std::optional<double> Number(const std::optional<std::string>& text)
{
    if (!text || text->empty())
        return std::nullopt;
    char* end = nullptr;
    const double value = std::strtod(text->c_str(), &end);
    if (end == text->c_str() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

bool TonesFit(double carrierHz, double shiftHz)
{
    return carrierHz - shiftHz / 2 >= kMinToneHz && carrierHz + shiftHz / 2 <= kMaxToneHz;
}

}  // namespace

Tones RttyConfig::ToTones() const
{
    const double centre = static_cast<double>(carrierTenths) / kTenthsPerHz;
    const double upper = centre + shiftHz / 2.0;
    const double lower = centre - shiftHz / 2.0;
    return reverse ? Tones{lower, upper} : Tones{upper, lower};
}

BitTiming RttyConfig::ToTiming() const
{
    const double bitSamples = baudHundredths == kStandardBaudHundredths
                                  ? kSamplesPerBit
                                  : static_cast<double>(kSampleRate) * kHundredthsPerBaud / baudHundredths;
    return {bitSamples, stopHalfBits};
}

int32_t ClampCarrier(int32_t tenths, int32_t shiftHz)
{
    const int32_t lowest = kMinToneHz * kTenthsPerHz + shiftHz * kTenthsPerHz / 2;
    const int32_t highest = kMaxToneHz * kTenthsPerHz - shiftHz * kTenthsPerHz / 2;
    return std::clamp(tenths, lowest, std::max(lowest, highest));
}

int32_t ClampShift(int32_t hz, int32_t carrierTenths)
{
    const int32_t room = std::min(carrierTenths - kMinToneHz * kTenthsPerHz, kMaxToneHz * kTenthsPerHz - carrierTenths);
    return std::clamp(hz, kMinShiftHz, std::max(kMinShiftHz, std::min(kMaxShiftHz, 2 * room / kTenthsPerHz)));
}

RttyConfig ConfigFromSettings(const std::function<std::optional<std::string>(const char* key)>& read)
{
    RttyConfig config;
    const auto flag = [&](const char* key, bool fallback) {
        const std::optional<double> value = Number(read(key));
        return value ? *value != 0.0 : fallback;
    };
    const auto inRange = [&](const char* key, double low, double high) -> std::optional<double> {
        const std::optional<double> value = Number(read(key));
        if (value && *value >= low && *value <= high)
            return value;
        return std::nullopt;
    };

    double shift = inRange("Shift", kMinShiftHz, kMaxShiftHz).value_or(kDefaultShiftHz);
    double mark = inRange("MarkFrequency", kMinToneHz, kMaxToneHz).value_or(kDefaultMarkHz);
    if (mark - shift < kMinToneHz) {
        mark = kDefaultMarkHz;
        shift = kDefaultShiftHz;
    }
    config.shiftHz = static_cast<int32_t>(std::lround(shift));
    double carrier = mark - config.shiftHz / 2.0;
    if (const std::optional<double> centre = Number(read("Carrier")); centre && TonesFit(*centre, config.shiftHz))
        carrier = *centre;
    config.carrierTenths = static_cast<int32_t>(std::lround(carrier * kTenthsPerHz));
    config.reverse = flag("Reverse", false);
    if (const auto baud = inRange("Baud", kMinBaudHundredths / 100.0, kMaxBaudHundredths / 100.0))
        config.baudHundredths = static_cast<int32_t>(std::lround(*baud * kHundredthsPerBaud));
    if (const auto stop = Number(read("StopBits")); stop && (*stop == 1.0 || *stop == 1.5 || *stop == 2.0))
        config.stopHalfBits = static_cast<int32_t>(*stop * 2);
    config.unshiftOnSpace = flag("UnshiftOnSpace", true);
    config.afc = flag("AFC", true);
    config.squelch = static_cast<int32_t>(std::lround(inRange("Squelch", 0, 100).value_or(0)));
    return config;
}

}  // namespace rz::rtty
