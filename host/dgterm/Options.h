// dgterm's command line (GNU style: --help and --version on stdout, errors on
// stderr) and its exit codes.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "Settings.h"

namespace rz::dgterm {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // the job failed: no module, no card, no match
inline constexpr int kExitUsage = 2;    // the command line is wrong

enum class PttLine { Rts, Dtr, Both };

struct Options {
    enum class Command { List, Session, Demo, ReceiveFile, TransmitFile, HelpMode };
    Command command = Command::Session;
    std::string modulePath;  // "" for the RUZada.so beside dgterm
    std::string mode;
    std::string device;  // a name (or part of one) from --list; "" the default
    std::optional<double> carrierHz;
    std::vector<ModeSetting> settings;  // for the section of `mode`
    double limiter = 0.0;               // the module's level gate, 0 off

    // Push-to-talk: a serial port's lines, or the rig's CAT command.
    int pttComPort = 0;  // 0: none
    bool pttCat = false;
    PttLine pttLine = PttLine::Rts;
    std::chrono::milliseconds pttLead{0};
    std::chrono::milliseconds pttTail{0};
    int rigModel = 0;  // Hamlib's model number; 0: no rig
    std::string rigPort;

    std::string logPath;
    std::string myCall;

    std::string rxFile;
    std::string txFile;
    std::string text;
    int txRate = 0;  // 0: the card's rate
    int txChannels = 1;
};

// The options, or nothing with the code to exit with (after --help, --version
// or a mistake, which is reported).
std::optional<Options> ParseOptions(int argc, char** argv, int& exitCode);

// "COM3" or "3" to 3; 0 for anything else.
int ParseComPort(const std::string& text);

}  // namespace rz::dgterm
