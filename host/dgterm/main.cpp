// dgterm: a terminal station for the RUZada digital-mode module.
#include <clocale>
#include <cstdio>

#include "Commands.h"

int main(int argc, char** argv)
{
    using namespace rz::dgterm;
    int exitCode = kExitOk;
    const std::optional<Options> options = ParseOptions(argc, argv, exitCode);
    if (!options)
        return exitCode;
    // Mode names and snap-in paths convert in the user's locale, and so does the screen.
    std::setlocale(LC_ALL, "");
    TerminationSignals signals;
    switch (options->command) {
        case Options::Command::HelpMode:
            std::fputs(ModeHelp(options->mode).c_str(), stdout);
            return kExitOk;
        case Options::Command::List:
            return RunList(*options);
        case Options::Command::Demo:
            return RunDemo(*options, signals);
        case Options::Command::ReceiveFile:
            return ReceiveFile(*options, signals);
        case Options::Command::TransmitFile:
            return TransmitFile(*options, signals);
        case Options::Command::Session:
            break;
    }
    return RunSession(*options, signals);
}
