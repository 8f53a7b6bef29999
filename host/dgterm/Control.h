// The current mode's run-time controls (DGSnapin.h): its carrier, AFC, reverse,
// squelch and what the receiver hears, read and written through the module.
#pragma once

#include <cstdint>
#include <optional>

#include <DGSnapin.h>

#include "Module.h"

namespace rz::dgterm {

// What a mode that follows the convention tells; each field is empty when the
// mode lacks that key.
struct Tuning {
    double carrierHz = 0.0;
    std::optional<double> trackedHz;
    std::optional<double> shiftHz;
    std::optional<int> quality;  // 0 to 100
    std::optional<int> squelch;  // quality below which nothing prints
    std::optional<bool> afc;
    std::optional<bool> reverse;
    std::optional<int> heardWpm;
};

class ModeControl {
public:
    explicit ModeControl(Module& module) : m_module(module) {}

    // Does the current mode follow the convention? Modes without it are left
    // untuned and show no tuning.
    bool Available() const;
    std::optional<int32_t> Read(DGControlKey key) const;
    // False when the mode refused the value or has no such key.
    bool Write(DGControlKey key, int32_t value);

    // Nothing for a mode without the convention or without a carrier.
    std::optional<Tuning> Read() const;
    bool SetCarrier(double hz);
    // Flips a flag; false when the mode has no such flag.
    bool Toggle(DGControlKey key);

private:
    Module& m_module;
};

}  // namespace rz::dgterm
