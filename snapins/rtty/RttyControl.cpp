#include "RttyControl.h"

#include <algorithm>

#include <DGSnapin.h>

namespace rz::rtty {

namespace {

int32_t Flag(int32_t value) { return value != 0 ? 1 : 0; }

bool Known(int key)
{
    switch (key) {
        case DG_KEY_CARRIER:
        case DG_KEY_AFC:
        case DG_KEY_REVERSE:
        case DG_KEY_BAUD:
        case DG_KEY_SHIFT:
        case DG_KEY_TRACKED:
        case DG_KEY_QUALITY:
        case DG_KEY_SQUELCH:
        case DG_KEY_STOP_BITS:
        case DG_KEY_UNSHIFT_ON_SPACE:
        case DG_KEY_IDLE:
            return true;
        default:
            return false;
    }
}

}  // namespace

void RttyControl::Reset(const RttyConfig& config)
{
    Store(DG_KEY_CARRIER, config.carrierTenths);
    Store(DG_KEY_SHIFT, config.shiftHz);
    Store(DG_KEY_REVERSE, config.reverse);
    Store(DG_KEY_BAUD, config.baudHundredths);
    Store(DG_KEY_STOP_BITS, config.stopHalfBits);
    Store(DG_KEY_UNSHIFT_ON_SPACE, config.unshiftOnSpace);
    Store(DG_KEY_AFC, config.afc);
    Store(DG_KEY_SQUELCH, config.squelch);
    Store(DG_KEY_IDLE, config.idle);
    Store(DG_KEY_TRACKED, config.carrierTenths);
    Store(DG_KEY_QUALITY, 0);
    m_written.store(false, std::memory_order_release);
}

RttyConfig RttyControl::Current() const
{
    RttyConfig config;
    config.carrierTenths = Value(DG_KEY_CARRIER);
    config.shiftHz = Value(DG_KEY_SHIFT);
    config.reverse = Value(DG_KEY_REVERSE) != 0;
    config.baudHundredths = Value(DG_KEY_BAUD);
    config.stopHalfBits = Value(DG_KEY_STOP_BITS);
    config.unshiftOnSpace = Value(DG_KEY_UNSHIFT_ON_SPACE) != 0;
    config.afc = Value(DG_KEY_AFC) != 0;
    config.squelch = Value(DG_KEY_SQUELCH);
    config.idle = Value(DG_KEY_IDLE) != 0;
    return config;
}

std::optional<int32_t> RttyControl::Read(int key) const
{
    if (!Known(key))
        return std::nullopt;
    return Value(key);
}

bool RttyControl::Write(int key, int32_t value)
{
    switch (key) {
        case DG_KEY_CARRIER:
            value = ClampCarrier(value, Value(DG_KEY_SHIFT));
            break;
        case DG_KEY_SHIFT:
            value = ClampShift(value, Value(DG_KEY_CARRIER));
            break;
        case DG_KEY_BAUD:
            value = std::clamp(value, kMinBaudHundredths, kMaxBaudHundredths);
            break;
        case DG_KEY_STOP_BITS:
            value = std::clamp(value, 2, 4);
            break;
        case DG_KEY_SQUELCH:
            value = std::clamp(value, 0, 100);
            break;
        case DG_KEY_AFC:
        case DG_KEY_REVERSE:
        case DG_KEY_UNSHIFT_ON_SPACE:
        case DG_KEY_IDLE:
            value = Flag(value);
            break;
        default:
            return false;
    }
    Store(key, value);
    m_written.store(true, std::memory_order_release);
    return true;
}

std::optional<RttyConfig> RttyControl::TakeWrites()
{
    if (!m_written.exchange(false, std::memory_order_acq_rel))
        return std::nullopt;
    RttyConfig config = Current();
    // Carrier and shift written at once by two threads may not fit together.
    config.carrierTenths = ClampCarrier(config.carrierTenths, config.shiftHz);
    Store(DG_KEY_CARRIER, config.carrierTenths);
    return config;
}

void RttyControl::Publish(int32_t trackedTenths, int32_t quality)
{
    Store(DG_KEY_TRACKED, trackedTenths);
    Store(DG_KEY_QUALITY, quality);
}

}  // namespace rz::rtty
