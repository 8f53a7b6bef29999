// What a snap-in supplies: its mode and one codec. SnapinExports.cpp turns them
// into the C functions that the module and hosts look up.
#pragma once

#include <DGSnapin.h>

#include <cstdint>
#include <optional>

namespace rz::snapin {

class Codec {
public:
    virtual ~Codec() = default;

    // The module calls these one at a time, never during a mode change.
    // The mode is selected: start afresh from the settings file.
    virtual void Restart() = 0;
    virtual int Twiddle(int16_t* samples, int wanted) = 0;
    // `count` may be 0: then only what is still queued is rendered. `capacity`
    // may be 0 (and `samples` null): then the characters are only queued.
    virtual int Encode(int16_t* samples, int capacity, const char32_t* chars, int count) = 0;
    // `count` may be 0: then only decoded text still held is handed out.
    virtual int Decode(const int16_t* samples, int count, char32_t* chars, int capacity) = 0;

    // Host threads call these at any time, during the calls above too.
    virtual bool HasData() const = 0;
    // A control key's value (DGSnapin.h), or nothing for a key the mode lacks.
    virtual std::optional<int32_t> Read(int key) const = 0;
    // True when the value was taken; it takes effect at the next codec call.
    virtual bool Write(int key, int32_t value) = 0;
};

struct Mode {
    uint64_t mask;
    const char16_t* name;
};

// Each snap-in defines these two. The codec lives as long as the library, so a
// host thread can always reach it.
extern const Mode kMode;
Codec& TheCodec();

}  // namespace rz::snapin
