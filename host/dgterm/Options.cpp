#include "Options.h"

#include <CLI/CLI.hpp>

#include "Ptt.h"

std::optional<Options> ParseOptions(int argc, char** argv, int& exitCode)
{
    CLI::App app{
        "dgterm: a terminal station for the RUZada digital-mode module.\n"
        "Receives and transmits in one screen, or decodes and writes WAV recordings.",
        "dgterm"};
    app.set_version_flag("--version", std::string("dgterm ") + DGTERM_VERSION);
    app.footer(
        "Keys in a session: t type a line, Enter send it, Esc cancel, +/- or Up/Down squelch, q or Ctrl-C quit.\n"
        "Exit status: 0 done, 1 the job failed, 2 wrong usage.\n"
        "Sound driver: RUZADA_AUDIODRIVER (portaudio, loopback, file, null); "
        "COM ports: RUZADA_COMn=/dev/ttyUSB0; settings: RUZADA_INI.");
    Options options;
    std::string ptt;
    bool listWanted = false;
    bool demoWanted = false;
    auto* list =
        app.add_flag("--list", listWanted, "list the modes, the sound driver with its devices, and the COM ports");
    auto* demo =
        app.add_flag("--demo", demoWanted, "send RTTY through the loopback card and decode it; exit 0 when it matches");
    auto* mode = app.add_option("--mode", options.mode, "the mode to run (a name from --list, e.g. RTTY)");
    auto* device = app.add_option("--device", options.device, "sound device number (default: the driver's default)");
    auto* pttOption =
        app.add_option("--ptt", ptt, "key the transmitter on the RTS line of this port (COMn) while sending");
    auto* rxFile = app.add_option("--rx-file", options.rxFile, "decode this WAV recording (8000 Hz) to stdout");
    auto* txFile = app.add_option("--tx-file", options.txFile, "write the transmission of --text to this WAV file");
    auto* text = app.add_option("--text", options.text, "the text that --tx-file transmits");
    app.add_option("--module", options.modulePath, "the RUZada.so to load (default: the one beside dgterm)");

    list->excludes(demo, mode);
    demo->excludes(mode);
    rxFile->needs(mode)->excludes(txFile, device, pttOption);
    txFile->needs(mode, text)->excludes(device, pttOption);
    text->needs(txFile);
    try {
        app.parse(argc, argv);
        if (!list->count() && !demo->count() && !mode->count())
            throw CLI::RequiredError("one of --list, --demo or --mode");
        if (pttOption->count() && (options.comPort = ParseComPort(ptt)) == 0)
            throw CLI::ValidationError("--ptt", "a COM port from COM1 to COM255 is needed, not " + ptt);
    } catch (const CLI::ParseError& error) {
        const int cliCode = app.exit(error);
        exitCode = cliCode == 0 ? kExitOk : kExitUsage;
        return std::nullopt;
    }
    if (list->count())
        options.command = Options::Command::List;
    else if (demo->count())
        options.command = Options::Command::Demo;
    else if (rxFile->count())
        options.command = Options::Command::ReceiveFile;
    else if (txFile->count())
        options.command = Options::Command::TransmitFile;
    return options;
}
