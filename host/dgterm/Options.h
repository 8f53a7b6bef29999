// dgterm's command line (GNU style: --help and --version on stdout, errors on
// stderr) and its exit codes.
#pragma once

#include <optional>
#include <string>

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // the job failed: no module, no card, no match
inline constexpr int kExitUsage = 2;    // the command line is wrong

struct Options {
    enum class Command { List, Session, Demo, ReceiveFile, TransmitFile };
    Command command = Command::Session;
    std::string modulePath;  // "" for the RUZada.so beside dgterm
    std::string mode;
    int device = -1;
    int comPort = 0;  // push-to-talk; 0 for none
    std::string rxFile;
    std::string txFile;
    std::string text;
};

// The options, or nothing with the code to exit with (after --help, --version
// or a mistake, which is reported).
std::optional<Options> ParseOptions(int argc, char** argv, int& exitCode);
