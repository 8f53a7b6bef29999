#include "Settings.h"

#include <strings.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <ruzada/kernel.h>

namespace {

constexpr const char* kSettingsName = "RUZada.ini";

std::string ReadPath()
{
    char path[4096] = {};
    return GetPrivateProfilePath(kSettingsName, path, sizeof path) > 0 ? path : "";
}

int Setting(const char* section, const char* key, int fallback)
{
    return static_cast<int>(GetPrivateProfileIntA(section, key, fallback, kSettingsName));
}

}  // namespace

SettingsFile::SettingsFile(bool forced)
{
    std::error_code error;
    const std::string user = ReadPath();
    if (!forced && !user.empty() && std::filesystem::exists(user, error))
        return;
    std::string pattern = (std::filesystem::temp_directory_path(error) / "dgterm-XXXXXX").string();
    const int fd = mkstemp(pattern.data());
    if (fd < 0)
        return;
    close(fd);
    std::ofstream(pattern) << "[RUZada]\nUseFFT=1\n";
    m_private = pattern;
    setenv("RUZADA_INI", m_private.c_str(), 1);
}

SettingsFile::~SettingsFile()
{
    if (!m_private.empty())
        std::remove(m_private.c_str());
}

bool SettingsFile::SpectrumOn() const { return Setting("RUZada", "UseFFT", 0) == 1; }

std::vector<double> ModeTones(const std::string& modeName)
{
    if (strcasecmp(modeName.c_str(), "RTTY") != 0)
        return {};
    // The snap-in's defaults and limits: a value out of range falls back, and
    // so do both when the space tone would fall below 300 Hz.
    constexpr int kMark = 1585, kShift = 170;
    int mark = Setting("RTTY", "MarkFrequency", kMark);
    int shift = Setting("RTTY", "Shift", kShift);
    if (mark < 300 || mark > 3500)
        mark = kMark;
    if (shift < 50 || shift > 1000)
        shift = kShift;
    if (mark - shift < 300) {
        mark = kMark;
        shift = kShift;
    }
    return {static_cast<double>(mark - shift), static_cast<double>(mark)};
}
