// A snap-in's settings: one section of the module's settings file, read through
// the platform as the module reads its own.
#pragma once

#include <ruzada/kernel.h>

#include <string>

namespace rz::snapin {

inline constexpr const char* kSettingsFile = "RUZada.ini";

inline int SettingInt(const char* section, const char* key, int fallback)
{
    return static_cast<int>(GetPrivateProfileIntA(section, key, fallback, kSettingsFile));
}

inline std::string SettingText(const char* section, const char* key, const char* fallback)
{
    char text[256];
    const DWORD length = GetPrivateProfileStringA(section, key, fallback, text, sizeof text, kSettingsFile);
    return std::string(text, length);
}

}  // namespace rz::snapin
