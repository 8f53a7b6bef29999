// The module's string table: built-in mode names and serial-port texts.
#pragma once

#include <ruzada/kernel.h>

inline constexpr UINT kIdsFirstModeName = 3000;  // 3000 + n names the single bit n, n < 18
inline constexpr UINT kModeNameCount = 18;
inline constexpr UINT kIdsUnknownMode = 3100;

void RegisterModuleStrings(HMODULE module);
void UnregisterModuleStrings(HMODULE module);
