#pragma once

// The settings file and its section, shared with the snap-ins that keep their own
// sections in it.
inline constexpr const char* kSettingsFile = "RUZada.ini";
inline constexpr const char* kSettingsSection = "RUZada";
