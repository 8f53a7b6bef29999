#include "minimodem.h"

#include <sys/wait.h>

#include <array>
#include <cstdio>

#include "Programs.h"

namespace rz::rtty::testing {

namespace {

using rz::test::support::ShellQuoted;

bool ExitedCleanly(int status) { return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0; }

}  // namespace

std::optional<std::string> FindMinimodem() { return rz::test::support::FindProgram("minimodem"); }

std::optional<std::string> MinimodemReceive(const std::string& minimodem, const std::string& wavPath)
{
    const std::string command = ShellQuoted(minimodem) + " --rx rtty -q -R 8000 -f " + ShellQuoted(wavPath) + " 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return std::nullopt;
    std::string text;
    std::array<char, 4096> buffer;
    size_t got = 0;
    while ((got = fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        text.append(buffer.data(), got);
    if (!ExitedCleanly(pclose(pipe)))
        return std::nullopt;
    return text;
}

bool MinimodemTransmit(const std::string& minimodem, const std::string& text, const std::string& wavPath)
{
    const std::string command = ShellQuoted(minimodem) + " --tx rtty -R 8000 -f " + ShellQuoted(wavPath) + " 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "w");
    if (pipe == nullptr)
        return false;
    const bool written = fwrite(text.data(), 1, text.size(), pipe) == text.size();
    return ExitedCleanly(pclose(pipe)) && written;
}

}  // namespace rz::rtty::testing
