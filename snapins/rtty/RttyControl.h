// The RTTY side of the run-time controls (DGSnapin.h). Host threads read and
// write at any time, also while a codec call runs; each key's value is one
// atomic, and the codec takes what was written at the start of its next call.
#ifndef RTTY_CONTROL_H
#define RTTY_CONTROL_H

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>

#include "RttyConfig.h"

namespace rz::rtty {

class RttyControl {
public:
    // The values in effect from now on (the mode was selected); earlier writes
    // not yet taken are dropped.
    void Reset(const RttyConfig& config);

    // A key's value, or nothing for a key the mode lacks.
    std::optional<int32_t> Read(int key) const;
    // Takes `value`, clamped to what the modem can do; false for an unknown or
    // read-only key.
    bool Write(int key, int32_t value);

    // The codec, at the start of each call: the configuration with every write
    // since the last call, or nothing when there was none.
    std::optional<RttyConfig> TakeWrites();
    // The codec, after receiving: the centre the receiver follows and its quality.
    void Publish(int32_t trackedTenths, int32_t quality);

private:
    static constexpr int kKeys = 16;

    int32_t Value(int key) const { return m_values[static_cast<size_t>(key)].load(std::memory_order_relaxed); }
    void Store(int key, int32_t value) { m_values[static_cast<size_t>(key)].store(value, std::memory_order_relaxed); }
    RttyConfig Current() const;

    std::array<std::atomic<int32_t>, kKeys> m_values{};
    std::atomic<bool> m_written{false};
};

}  // namespace rz::rtty

#endif
