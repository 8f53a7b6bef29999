// The module's settings file for this run, and what dgterm reads from it itself.
#pragma once

#include <string>
#include <vector>

// A user's own RUZada.ini is used as it is. Without one, dgterm gives the module a
// private file, removed again at exit, that turns the spectrum ("UseFFT") on:
// the waterfall is what the screen is for. Must be in place before the module
// loads, since the module reads its settings at attach.
class SettingsFile {
public:
    // `forced` uses the private file even when the user has one (the demo runs
    // the same everywhere).
    explicit SettingsFile(bool forced = false);
    ~SettingsFile();
    SettingsFile(const SettingsFile&) = delete;
    SettingsFile& operator=(const SettingsFile&) = delete;

    bool SpectrumOn() const;

private:
    std::string m_private;
};

// The audio tones of a mode, in Hz, for the waterfall's markers: RTTY's mark and
// space as the RTTY snap-in reads them from section "RTTY". None for other modes.
std::vector<double> ModeTones(const std::string& modeName);
