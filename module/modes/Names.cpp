// Mode names and snap-in file names for the host, wide and narrow.
#include <algorithm>
#include <bit>

#include <RUZada.h>

#include "base/ExtensionModule.h"
#include "core/Globals.h"
#include "core/Guard.h"
#include "modes/ModeList.h"
#include "modes/Utf16Text.h"
#include "res/Strings.h"

namespace {

constexpr int kStringBufferSize = 256;
constexpr size_t kNameUnits = sizeof(DGSETUP::szName) / sizeof(char16_t);

UINT BuiltInNameId(uint64_t mode)
{
    if (std::has_single_bit(mode) && mode < (uint64_t{1} << kModeNameCount))
        return kIdsFirstModeName + static_cast<UINT>(std::countr_zero(mode));
    return kIdsUnknownMode;
}

// A name fills at most 256 units and a path fewer than MAX_PATH bytes, so every
// wide answer fits with its terminator in MAX_PATH units, whatever `len` is.
void NarrowFromWide(void (*wide)(uint64_t, char16_t*, UINT), uint64_t mode, char* buffer, UINT len)
{
    if (!buffer || len == 0)
        return;
    char16_t text[MAX_PATH];
    const UINT units = std::min<UINT>(len, MAX_PATH);
    wide(mode, text, units);
    Utf16ToMultibyte(text, units, buffer, len);
}

}  // namespace

void GetRUZadaNameW(uint64_t mode, char16_t* buffer, UINT len)
{
    if (!buffer || len == 0)
        return;
    Guarded([&] {
        std::fill_n(buffer, len, u'\0');
        if (const CModeRecord* record = g_ModeList.Find(mode)) {
            const char16_t* name = record->m_Setup.szName;
            std::copy(name, std::find(name, name + std::min<size_t>(len, kNameUnits), u'\0'), buffer);
        }
        if (buffer[0] != u'\0')
            return;
        char text[kStringBufferSize];
        LoadStringA(g_ExtModule.hResource, BuiltInNameId(mode), text, kStringBufferSize);
        MultibyteToUtf16(text, buffer, len);
    });
}

void GetRUZadaNameA(uint64_t mode, char* buffer, UINT len)
{
    Guarded([&] { NarrowFromWide(&GetRUZadaNameW, mode, buffer, len); });
}

void GetRUZadaFileNameW(uint64_t mode, char16_t* buffer, UINT len)
{
    if (!buffer || len == 0)
        return;
    Guarded([&] {
        const CModeRecord* record = g_ModeList.Find(mode);
        MultibyteToUtf16(record ? record->m_szPath : "", buffer, len);
    });
}

void GetRUZadaFileNameA(uint64_t mode, char* buffer, UINT len)
{
    Guarded([&] { NarrowFromWide(&GetRUZadaFileNameW, mode, buffer, len); });
}
