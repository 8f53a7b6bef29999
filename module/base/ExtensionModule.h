// This library's registration: its handle, under which its string table lives.
// Kept at the bottom, since the string class loads its texts through it.
#pragma once

#include <ruzada/wintypes.h>

struct ExtensionModule {
    HMODULE hModule = nullptr;
    HMODULE hResource = nullptr;
};

extern ExtensionModule g_ExtModule;
