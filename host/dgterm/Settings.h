// Settings: the module's settings file for this run (with the snap-in settings
// given on the command line), the settings each mode takes, and dgterm's own
// settings file with the station and the macros.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace rz::dgterm {

// KEY=VALUE for the section of one mode.
struct ModeSetting {
    std::string key;
    std::string value;
};

// The module reads its settings file, and each snap-in its section of it, when
// it starts (and a mode when it is selected). dgterm points the module at a
// private file for its run, removed again at exit, whenever it has something to
// add: the spectrum ("UseFFT") when the user has no file (the waterfall is what
// the screen is for), and the snap-in settings of --option, placed ahead of the
// user's own file so that they win. Must be in place before the module loads.
class SettingsFile {
public:
    // `forced` uses dgterm's defaults even when the user has a file (the demo
    // runs the same everywhere).
    SettingsFile(const std::string& section, const std::vector<ModeSetting>& settings, bool forced = false);
    ~SettingsFile();
    SettingsFile(const SettingsFile&) = delete;
    SettingsFile& operator=(const SettingsFile&) = delete;

    bool SpectrumOn() const;

private:
    std::string m_private;
};

// The sound card's rate in the module's settings: 8000, or 48000 with "Use48KHz".
int CardRate();

// What --option and --help-mode know of a mode's settings.
struct SettingHelp {
    const char* key;
    const char* values;
    const char* meaning;
};
// The settings of the mode of that name (any case); empty for a mode dgterm
// does not know, whose settings are passed on unchecked.
std::vector<SettingHelp> ModeSettings(const std::string& modeName);
// "Baud=50" as a setting of `modeName`, or nothing with the reason in `error`.
std::optional<ModeSetting> ParseModeSetting(const std::string& modeName, const std::string& text, std::string& error);
// The text of --help-mode.
std::string ModeHelp(const std::string& modeName);

// dgterm's own settings, $XDG_CONFIG_HOME/dgterm/dgterm.ini (else
// ~/.config/dgterm/dgterm.ini): section "Station" with MyCall and RST, section
// "Macros" with F1 to F8.
struct StationSettings {
    static constexpr int kMacros = 8;
    std::string myCall;
    std::string rst = "599";
    std::string macros[kMacros];
};
std::string StationSettingsPath();
StationSettings ReadStationSettings();
// A macro's text for sending: {MYCALL}, {CALL} and {RST} filled in, "\n" a line
// end; it ends a line itself, as a typed line does.
std::string ExpandMacro(const std::string& macro, const StationSettings& station, const std::string& call);

}  // namespace rz::dgterm
