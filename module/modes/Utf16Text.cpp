#include "modes/Utf16Text.h"

#include <climits>
#include <cstring>
#include <cuchar>

namespace {

constexpr size_t kInvalid = static_cast<size_t>(-1);
constexpr size_t kIncomplete = static_cast<size_t>(-2);
constexpr size_t kPendingUnit = static_cast<size_t>(-3);

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }

}  // namespace

size_t MultibyteToUtf16(const char* source, char16_t* target, size_t capacity)
{
    const char* const end = source + std::strlen(source) + 1;  // the terminator is converted too
    std::mbstate_t state{};
    size_t written = 0;
    while (written < capacity) {
        char16_t unit = 0;
        const size_t used = std::mbrtoc16(&unit, source, static_cast<size_t>(end - source), &state);
        if (used == kInvalid || used == kIncomplete) {
            target[written] = u'\0';
            break;
        }
        // A surrogate pair goes in whole or not at all.
        if (used != kPendingUnit && IsHighSurrogate(unit) && written + 2 > capacity)
            break;
        target[written] = unit;
        if (used == 0)
            break;
        ++written;
        if (used != kPendingUnit)
            source += used;
    }
    return written;
}

size_t Utf16ToMultibyte(const char16_t* source, size_t sourceUnits, char* target, size_t capacity)
{
    std::mbstate_t state{};
    size_t written = 0;
    for (size_t i = 0; i < sourceUnits; ++i) {
        if (source[i] == u'\0') {
            if (written < capacity)
                target[written] = '\0';
            break;
        }
        char bytes[MB_LEN_MAX];
        const size_t count = std::c16rtomb(bytes, source[i], &state);
        if (count == kInvalid) {
            if (written < capacity)
                target[written] = '\0';
            break;
        }
        if (written + count > capacity)
            break;
        std::memcpy(target + written, bytes, count);
        written += count;
    }
    return written;
}

std::string Utf16ToMultibyte(const char16_t* source, size_t sourceUnits)
{
    std::string text(sourceUnits * MB_LEN_MAX, '\0');
    text.resize(Utf16ToMultibyte(source, sourceUnits, text.data(), text.size()));
    return text;
}
