#include "Options.h"

#include <strings.h>

#include <cstdlib>

#include <CLI/CLI.hpp>

namespace rz::dgterm {

std::optional<Options> ParseOptions(int argc, char** argv, int& exitCode)
{
    CLI::App app{
        "dgterm: a terminal station for the RUZada digital-mode module.\n"
        "Receives and transmits in one screen, or decodes and writes recordings.",
        "dgterm"};
    app.set_version_flag("--version", std::string("dgterm ") + DGTERM_VERSION);
    app.footer(
        "Keys in a session: t type a line, Enter send it, Esc stop sending (or cancel the line), Left/Right tune\n"
        "10 Hz (Shift: 1 Hz), click the waterfall to tune, a AFC, r reverse/sideband, m next mode, +/- squelch,\n"
        "c the other station's call, F1-F8 macros, q or Ctrl-C quit.\n"
        "Exit status: 0 done, 1 the job failed, 2 wrong usage.\n"
        "Sound driver: RUZADA_AUDIODRIVER (portaudio, loopback, file, null); "
        "COM ports: RUZADA_COMn=/dev/ttyUSB0; settings: RUZADA_INI.");
    Options options;
    std::string ptt;
    std::string pttLine = "rts";
    std::vector<std::string> settings;
    int leadMs = 0;
    int tailMs = 0;
    bool listWanted = false;
    bool demoWanted = false;
    auto* list =
        app.add_flag("--list", listWanted, "list the modes, the sound driver with its devices, and the COM ports");
    auto* demo =
        app.add_flag("--demo", demoWanted, "send RTTY through the loopback card and decode it; exit 0 when it matches");
    auto* helpMode = app.add_option("--help-mode", options.mode, "list the settings of a mode (for --option)");
    auto* mode = app.add_option("--mode", options.mode, "the mode to run (a name from --list, e.g. RTTY)");
    auto* device =
        app.add_option("--device", options.device, "the sound device (its name, or part of it, from --list)");
    app.add_option("--carrier", options.carrierHz, "the mode's carrier (centre) frequency in Hz")
        ->check(CLI::Range(100.0, 3900.0));
    app.add_option("--option", settings, "a setting of the mode, KEY=VALUE (repeatable; see --help-mode)");
    app.add_option("--limiter", options.limiter,
                   "mute received audio louder than this part of full scale (0 to 1; the module's level gate; 0 off)")
        ->check(CLI::Range(0.0, 1.0));
    auto* pttOption = app.add_option("--ptt", ptt, "key the transmitter: a COM port (COMn) or cat (the rig)");
    app.add_option("--ptt-line", pttLine, "the serial line that keys: rts, dtr or both")
        ->check(CLI::IsMember({"rts", "dtr", "both"}, CLI::ignore_case));
    app.add_option("--ptt-lead", leadMs, "milliseconds between keying and the first audio")->check(CLI::Range(0, 2000));
    app.add_option("--ptt-tail", tailMs, "milliseconds between the last audio and unkeying")
        ->check(CLI::Range(0, 2000));
    auto* rig =
        app.add_option("--rig", options.rigModel, "Hamlib's model number of the rig (rigctl -l; 2 for rigctld)");
    auto* rigPort = app.add_option("--rig-port", options.rigPort, "the rig's port: a device, or host:port for rigctld");
    app.add_option("--log", options.logPath, "append what was received and sent to this file");
    app.add_option("--mycall", options.myCall, "your call sign, for the macros' {MYCALL}");
    auto* rxFile =
        app.add_option("--rx-file", options.rxFile, "decode this recording (any rate; - or a FIFO for a stream)");
    auto* txFile = app.add_option("--tx-file", options.txFile, "write the transmission of --text to this WAV file");
    auto* text = app.add_option("--text", options.text, "the text that --tx-file transmits");
    auto* txRate = app.add_option("--tx-rate", options.txRate, "the sample rate of --tx-file (default: the card's)")
                       ->check(CLI::Range(1000, 192000));
    auto* txChannels = app.add_option("--tx-channels", options.txChannels, "the channels of --tx-file (1 or 2)")
                           ->check(CLI::Range(1, 2));
    app.add_option("--module", options.modulePath, "the RUZada.so to load (default: the one beside dgterm)");

    list->excludes(demo, mode, helpMode);
    demo->excludes(mode, helpMode);
    helpMode->excludes(mode);
    rxFile->needs(mode)->excludes(txFile, device, pttOption);
    txFile->needs(mode, text)->excludes(device, pttOption);
    text->needs(txFile);
    txRate->needs(txFile);
    txChannels->needs(txFile);
    rigPort->needs(rig);
    try {
        app.parse(argc, argv);
        if (!list->count() && !demo->count() && !mode->count() && !helpMode->count())
            throw CLI::RequiredError("one of --list, --demo, --help-mode or --mode");
        if (pttOption->count()) {
            options.pttCat = strcasecmp(ptt.c_str(), "cat") == 0;
            if (!options.pttCat && (options.pttComPort = ParseComPort(ptt)) == 0)
                throw CLI::ValidationError("--ptt", "cat or a COM port from COM1 to COM255 is needed, not " + ptt);
            if (options.pttCat && !rig->count())
                throw CLI::ValidationError("--ptt", "cat needs --rig");
        }
        for (const std::string& setting : settings) {
            std::string error;
            const std::optional<ModeSetting> parsed = ParseModeSetting(options.mode, setting, error);
            if (!parsed)
                throw CLI::ValidationError("--option", error);
            options.settings.push_back(*parsed);
        }
    } catch (const CLI::ParseError& error) {
        const int cliCode = app.exit(error);
        exitCode = cliCode == 0 ? kExitOk : kExitUsage;
        return std::nullopt;
    }
    options.pttLine = strcasecmp(pttLine.c_str(), "dtr") == 0    ? PttLine::Dtr
                      : strcasecmp(pttLine.c_str(), "both") == 0 ? PttLine::Both
                                                                 : PttLine::Rts;
    options.pttLead = std::chrono::milliseconds(leadMs);
    options.pttTail = std::chrono::milliseconds(tailMs);
    if (list->count())
        options.command = Options::Command::List;
    else if (demo->count())
        options.command = Options::Command::Demo;
    else if (helpMode->count())
        options.command = Options::Command::HelpMode;
    else if (rxFile->count())
        options.command = Options::Command::ReceiveFile;
    else if (txFile->count())
        options.command = Options::Command::TransmitFile;
    return options;
}

int ParseComPort(const std::string& text)
{
    const char* digits = text.c_str();
    if (strncasecmp(digits, "COM", 3) == 0)
        digits += 3;
    char* end = nullptr;
    const long number = std::strtol(digits, &end, 10);
    if (end == digits || *end != '\0' || number < 1 || number > 255)
        return 0;
    return static_cast<int>(number);
}

}  // namespace rz::dgterm
