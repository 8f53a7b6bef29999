#include "Minimodem.h"

#include <sys/wait.h>

#include <cstdio>

#include "Programs.h"

namespace rz::rtty::testing {

using rz::test::support::ShellQuoted;

std::optional<std::string> FindMinimodem() { return rz::test::support::FindProgram("minimodem"); }

std::optional<std::string> MinimodemReceive(const std::string& minimodem, const std::string& wavPath)
{
    return rz::test::support::RunProgram({minimodem, "--rx", "rtty", "-q", "-R", "8000", "-f", wavPath});
}

bool MinimodemTransmit(const std::string& minimodem, const std::string& text, const std::string& wavPath,
                       const std::string& baud)
{
    const std::string mode = baud.empty() ? "rtty" : "-5 --stopbits 1.5 -M 1585 -S 1415 " + ShellQuoted(baud);
    const std::string command =
        ShellQuoted(minimodem) + " --tx -R 8000 -f " + ShellQuoted(wavPath) + " " + mode + " 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "w");
    if (pipe == nullptr)
        return false;
    const bool written = fwrite(text.data(), 1, text.size(), pipe) == text.size();
    const int status = pclose(pipe);
    return written && status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace rz::rtty::testing
