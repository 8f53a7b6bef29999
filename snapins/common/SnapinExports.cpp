// The C functions of a snap-in, on top of its codec: argument checks, the two
// character widths, and the control convention. No exception leaves a snap-in.
#include <algorithm>
#include <cstring>
#include <limits>
#include <string_view>
#include <type_traits>
#include <vector>

#include "Snapin.h"

namespace rz::snapin {
namespace {

// The module asks for 64 characters at most; a larger capacity is served in
// pieces of this size, the codec keeping the rest for the next call.
constexpr int kMaxDecodeChunk = 1024;
constexpr char kUnprintable = '?';

template <typename Char>
int EncodeUnits(int16_t* samples, int capacity, const Char* chars, int count)
{
    // Without room the characters are still queued, for the next call.
    const int room = samples != nullptr ? std::max(capacity, 0) : 0;
    try {
        std::vector<char32_t> units;
        if (chars != nullptr && count > 0) {
            units.reserve(static_cast<size_t>(count));
            for (int i = 0; i < count; ++i)
                units.push_back(static_cast<std::make_unsigned_t<Char>>(chars[i]));
        }
        const int written = TheCodec().Encode(samples, room, units.data(), static_cast<int>(units.size()));
        return std::clamp(written, 0, room);
    } catch (...) {
        return 0;
    }
}

template <typename Char>
int DecodeUnits(const int16_t* samples, int count, Char* chars, int capacity)
{
    try {
        std::vector<char32_t> units(static_cast<size_t>(std::clamp(capacity, 0, kMaxDecodeChunk)));
        const int taken = samples != nullptr ? std::max(count, 0) : 0;
        if (chars == nullptr)
            units.clear();
        const int decoded = TheCodec().Decode(samples, taken, units.data(), static_cast<int>(units.size()));
        const int written = std::clamp(decoded, 0, static_cast<int>(units.size()));
        for (int i = 0; i < written; ++i) {
            const char32_t unit = units[static_cast<size_t>(i)];
            const bool fits = unit <= static_cast<char32_t>(std::numeric_limits<std::make_unsigned_t<Char>>::max());
            chars[i] = fits ? static_cast<Char>(unit) : static_cast<Char>(kUnprintable);
        }
        return written;
    } catch (...) {
        return 0;
    }
}

}  // namespace
}  // namespace rz::snapin

using rz::snapin::TheCodec;

DG_SNAPIN_EXPORT void GetDGSetup(DGSETUP* setup)
{
    if (setup == nullptr || setup->cbSize < DGSETUP_SIZE)
        return;
    const std::u16string_view name = rz::snapin::kMode.name;
    std::memcpy(setup->szName, name.data(), std::min(name.size(), std::size(setup->szName) - 1) * sizeof(char16_t));
    setup->qwMode = rz::snapin::kMode.mask;
}

// Snap-in audio is 8000 samples per second whatever the card runs at.
DG_SNAPIN_EXPORT void InitRUZada(double)
{
    try {
        TheCodec().Restart();
    } catch (...) {
    }
}

DG_SNAPIN_EXPORT int GetDGTwiddle(int16_t* samples, int wanted)
{
    if (samples == nullptr || wanted <= 0)
        return 0;
    try {
        return std::clamp(TheCodec().Twiddle(samples, wanted), 0, wanted);
    } catch (...) {
        return 0;
    }
}

DG_SNAPIN_EXPORT int HasDGData(void)
{
    try {
        return TheCodec().HasData() ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

DG_SNAPIN_EXPORT int EncodeDGDataW(int16_t* samples, int capacity, const char16_t* chars, int count)
{
    return rz::snapin::EncodeUnits(samples, capacity, chars, count);
}

DG_SNAPIN_EXPORT int EncodeDGDataA(int16_t* samples, int capacity, const char* chars, int count)
{
    return rz::snapin::EncodeUnits(samples, capacity, chars, count);
}

DG_SNAPIN_EXPORT int DecodeDGDataW(const int16_t* samples, int count, char16_t* chars, int capacity)
{
    return rz::snapin::DecodeUnits(samples, count, chars, capacity);
}

DG_SNAPIN_EXPORT int DecodeDGDataA(const int16_t* samples, int count, char* chars, int capacity)
{
    return rz::snapin::DecodeUnits(samples, count, chars, capacity);
}

DG_SNAPIN_EXPORT uint32_t DoDGCommand(uint32_t command)
{
    if ((command & ~DG_CONTROL_KEY_MASK) != DG_CONTROL_READ)
        return 0;
    const int key = static_cast<int>(command & DG_CONTROL_KEY_MASK);
    if (key == DG_KEY_CONTROL)
        return DG_CONTROL_VERSION;
    try {
        return static_cast<uint32_t>(TheCodec().Read(key).value_or(DG_CONTROL_NONE));
    } catch (...) {
        return static_cast<uint32_t>(DG_CONTROL_NONE);
    }
}

// The function number is DG_CONTROL_FUNC.
DG_SNAPIN_EXPORT int InvokeDGFunc20(HWND, uint32_t key, uint32_t value)
{
    try {
        return key <= DG_CONTROL_KEY_MASK && TheCodec().Write(static_cast<int>(key), static_cast<int32_t>(value)) ? 1
                                                                                                                  : 0;
    } catch (...) {
        return 0;
    }
}
