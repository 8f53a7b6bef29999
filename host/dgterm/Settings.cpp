#include "Settings.h"

#include <strings.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <ruzada/kernel.h>

namespace rz::dgterm {
namespace {

constexpr const char* kSettingsName = "RUZada.ini";
constexpr int kCardRate = 8000;
constexpr int kCardRate48KHz = 48000;

std::string ModulePath()
{
    char path[4096] = {};
    return GetPrivateProfilePath(kSettingsName, path, sizeof path) > 0 ? path : "";
}

int Setting(const char* section, const char* key, int fallback)
{
    return static_cast<int>(GetPrivateProfileIntA(section, key, fallback, kSettingsName));
}

std::string ReadWhole(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

const std::vector<SettingHelp> kRttySettings = {
    {"MarkFrequency", "300-3500", "the upper tone in Hz (1585); the carrier lies half a shift below it"},
    {"Carrier", "Hz", "the centre between the tones (1500); wins over MarkFrequency"},
    {"Shift", "50-1000", "hertz between mark and space (170; 850 for the wide shift)"},
    {"Reverse", "0 or 1", "1: mark below space (inverted signals)"},
    {"Baud", "40-200", "symbol rate (45.45, which also copies 45 to 46; 50, 75, 100 need it set)"},
    {"StopBits", "1, 1.5 or 2", "length of the stop element sent (1.5)"},
    {"UnshiftOnSpace", "0 or 1", "1: a space returns the receiver to letters (1)"},
    {"AFC", "0 or 1", "1: the receiver follows the signal up to 50 Hz off (1)"},
    {"Squelch", "0-100", "signal quality below which nothing prints (0)"},
};
const std::vector<SettingHelp> kPskSettings = {
    {"Carrier", "Hz", "carrier frequency (1000)"},
    {"Submode", "BPSK31, BPSK63, BPSK125, QPSK31, QPSK63", "speed and modulation (BPSK31)"},
    {"AFC", "0 or 1", "1: the receiver follows the signal's frequency (1)"},
    {"LSB", "0 or 1", "1: QPSK on the lower sideband (0)"},
};
const std::vector<SettingHelp> kCwSettings = {
    {"Carrier", "Hz", "tone frequency (700)"},
    {"WPM", "5-50", "sending speed in words per minute"},
    {"Farnsworth", "0-50", "speed of the spacing in words per minute; 0 off"},
    {"AFC", "0 or 1", "1: the receiver finds the signal within 100 Hz (1)"},
    {"Squelch", "0-100", "signal quality below which nothing prints"},
};

}  // namespace

SettingsFile::SettingsFile(const std::string& section, const std::vector<ModeSetting>& settings, bool forced)
{
    std::error_code error;
    const std::string user = ModulePath();
    const bool hasUserFile = !forced && !user.empty() && std::filesystem::exists(user, error);
    if (hasUserFile && settings.empty())
        return;
    std::string text;
    if (!settings.empty()) {
        // The first key found wins, so these go ahead of the user's own.
        text += "[" + section + "]\n";
        for (const ModeSetting& setting : settings)
            text += setting.key + "=" + setting.value + "\n";
    }
    text += hasUserFile ? ReadWhole(user) : "[RUZada]\nUseFFT=1\n";
    std::string pattern = (std::filesystem::temp_directory_path(error) / "dgterm-XXXXXX").string();
    const int fd = mkstemp(pattern.data());
    if (fd < 0)
        return;
    close(fd);
    std::ofstream(pattern) << text;
    m_private = pattern;
    setenv("RUZADA_INI", m_private.c_str(), 1);
}

SettingsFile::~SettingsFile()
{
    if (!m_private.empty())
        std::remove(m_private.c_str());
}

bool SettingsFile::SpectrumOn() const { return Setting("RUZada", "UseFFT", 0) == 1; }

int CardRate() { return Setting("RUZada", "Use48KHz", 0) == 1 ? kCardRate48KHz : kCardRate; }

std::vector<SettingHelp> ModeSettings(const std::string& modeName)
{
    if (strcasecmp(modeName.c_str(), "RTTY") == 0)
        return kRttySettings;
    if (strcasecmp(modeName.c_str(), "PSK") == 0)
        return kPskSettings;
    if (strcasecmp(modeName.c_str(), "CW") == 0)
        return kCwSettings;
    return {};
}

std::optional<ModeSetting> ParseModeSetting(const std::string& modeName, const std::string& text, std::string& error)
{
    const size_t equals = text.find('=');
    if (equals == 0 || equals == std::string::npos) {
        error = "a setting is KEY=VALUE, not " + text;
        return std::nullopt;
    }
    ModeSetting setting{text.substr(0, equals), text.substr(equals + 1)};
    const std::vector<SettingHelp> known = ModeSettings(modeName);
    if (known.empty())
        return setting;
    for (const SettingHelp& help : known)
        if (strcasecmp(help.key, setting.key.c_str()) == 0)
            return ModeSetting{help.key, setting.value};
    error = modeName + " has no setting " + setting.key + " (see --help-mode " + modeName + ")";
    return std::nullopt;
}

std::string ModeHelp(const std::string& modeName)
{
    const std::vector<SettingHelp> settings = ModeSettings(modeName);
    if (settings.empty())
        return "dgterm knows no settings of a mode named " + modeName +
               "; --option passes KEY=VALUE to its section of RUZada.ini unchecked.\n";
    std::string text = "Settings of " + modeName + " (--option KEY=VALUE, or section [" + modeName +
                       "] of RUZada.ini; defaults in parentheses):\n";
    for (const SettingHelp& help : settings) {
        char line[256];
        std::snprintf(line, sizeof line, "  %-15s %-40s %s\n", help.key, help.values, help.meaning);
        text += line;
    }
    text +=
        "In the session: Left/Right tune 10 Hz (with Shift 1 Hz), a click on the waterfall tunes there,\n"
        "a toggles AFC, r reverse (RTTY) or the sideband (QPSK), m the next mode.\n";
    return text;
}

std::string StationSettingsPath()
{
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && *config)
        return std::string(config) + "/dgterm/dgterm.ini";
    const char* home = std::getenv("HOME");
    return std::string(home ? home : ".") + "/.config/dgterm/dgterm.ini";
}

StationSettings ReadStationSettings()
{
    const std::string path = StationSettingsPath();
    const auto text = [&](const char* section, const char* key, const std::string& fallback) {
        char value[1024] = {};
        GetPrivateProfileStringA(section, key, fallback.c_str(), value, sizeof value, path.c_str());
        return std::string(value);
    };
    StationSettings station;
    station.myCall = text("Station", "MyCall", "");
    station.rst = text("Station", "RST", station.rst);
    for (int n = 0; n < StationSettings::kMacros; ++n)
        station.macros[n] = text("Macros", ("F" + std::to_string(n + 1)).c_str(), "");
    return station;
}

std::string ExpandMacro(const std::string& macro, const StationSettings& station, const std::string& call)
{
    const std::pair<const char*, std::string> fields[] = {
        {"{MYCALL}", station.myCall}, {"{CALL}", call}, {"{RST}", station.rst}, {"\\n", "\r\n"}};
    std::string text;
    for (size_t at = 0; at < macro.size();) {
        bool replaced = false;
        for (const auto& [name, value] : fields) {
            const size_t length = std::char_traits<char>::length(name);
            if (strncasecmp(macro.c_str() + at, name, length) == 0) {
                text += value;
                at += length;
                replaced = true;
                break;
            }
        }
        if (!replaced)
            text += macro[at++];
    }
    return text + "\r\n";
}

}  // namespace rz::dgterm
