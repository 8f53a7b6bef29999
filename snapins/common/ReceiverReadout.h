// What a tuned receiver lets the host read at any time, from the host's own
// threads: the carrier, AFC and squelch asked for, and what the receiver tracks
// and hears.
#pragma once

#include <DGSnapin.h>

#include <atomic>
#include <cstdint>
#include <optional>

namespace rz::snapin {

struct ReceiverReadout {
    ReceiverReadout(int32_t carrierTenths, int32_t squelch)
        : carrierTenths(carrierTenths), squelch(squelch), trackedTenths(carrierTenths)
    {}

    // The value of a key every tuned receiver answers, or nothing for the others.
    std::optional<int32_t> Read(int key) const
    {
        switch (key) {
            case DG_KEY_CARRIER:
                return carrierTenths.load();
            case DG_KEY_AFC:
                return afc.load() ? 1 : 0;
            case DG_KEY_SQUELCH:
                return squelch.load();
            case DG_KEY_TRACKED:
                return trackedTenths.load();
            case DG_KEY_QUALITY:
                return quality.load();
            default:
                return std::nullopt;
        }
    }

    std::atomic<int32_t> carrierTenths;
    std::atomic<bool> afc{true};
    std::atomic<int32_t> squelch;
    std::atomic<int32_t> trackedTenths;
    std::atomic<int32_t> quality{0};
};

}  // namespace rz::snapin
