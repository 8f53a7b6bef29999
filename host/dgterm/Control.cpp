#include "Control.h"

#include <cmath>

namespace rz::dgterm {
namespace {

// Frequencies cross in tenths of a hertz.
constexpr double kTenthsPerHz = 10.0;

std::optional<double> Hz(std::optional<int32_t> tenths)
{
    if (!tenths)
        return std::nullopt;
    return *tenths / kTenthsPerHz;
}

}  // namespace

bool ModeControl::Available() const
{
    return m_module.InvokeDGCommand(DG_CONTROL_READ | DG_KEY_CONTROL) == DG_CONTROL_VERSION;
}

std::optional<int32_t> ModeControl::Read(DGControlKey key) const
{
    const auto value = static_cast<int32_t>(m_module.InvokeDGCommand(DG_CONTROL_READ | key));
    if (value == DG_CONTROL_NONE)
        return std::nullopt;
    return value;
}

bool ModeControl::Write(DGControlKey key, int32_t value)
{
    const uint64_t mode = m_module.GetRUZada();
    return mode != 0 && Available() && m_module.InvokeRUZadaFunc(mode, DG_CONTROL_FUNC, key, value) == 1;
}

std::optional<Tuning> ModeControl::Read() const
{
    if (!Available())
        return std::nullopt;
    const std::optional<double> carrier = Hz(Read(DG_KEY_CARRIER));
    if (!carrier)
        return std::nullopt;
    Tuning tuning;
    tuning.carrierHz = *carrier;
    tuning.trackedHz = Hz(Read(DG_KEY_TRACKED));
    tuning.shiftHz = Read(DG_KEY_SHIFT);
    tuning.quality = Read(DG_KEY_QUALITY);
    tuning.squelch = Read(DG_KEY_SQUELCH);
    tuning.heardWpm = Read(DG_KEY_RX_WPM);
    if (const auto afc = Read(DG_KEY_AFC))
        tuning.afc = *afc != 0;
    if (const auto reverse = Read(DG_KEY_REVERSE))
        tuning.reverse = *reverse != 0;
    return tuning;
}

bool ModeControl::SetCarrier(double hz)
{
    return Write(DG_KEY_CARRIER, static_cast<int32_t>(std::lround(hz * kTenthsPerHz)));
}

bool ModeControl::Toggle(DGControlKey key)
{
    const std::optional<int32_t> value = Read(key);
    return value && Write(key, *value != 0 ? 0 : 1);
}

}  // namespace rz::dgterm
