#include "minimodem.h"

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace rz::rtty::testing {

namespace {

std::string Quoted(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

bool ExitedCleanly(int status) { return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0; }

}  // namespace

std::optional<std::string> FindMinimodem()
{
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path != nullptr ? path : "");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        const std::string candidate = (dir.empty() ? std::string(".") : dir) + "/minimodem";
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return std::nullopt;
}

std::optional<std::string> MinimodemReceive(const std::string& minimodem, const std::string& wavPath)
{
    const std::string command = Quoted(minimodem) + " --rx rtty -q -R 8000 -f " + Quoted(wavPath) + " 2>/dev/null";
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

bool MinimodemTransmit(const std::string& minimodem, const std::string& text, const std::string& wavPath,
                       const std::string& baud)
{
    const std::string mode = baud.empty() ? "rtty" : "-5 --stopbits 1.5 -M 1585 -S 1415 " + Quoted(baud);
    const std::string command = Quoted(minimodem) + " --tx -R 8000 -f " + Quoted(wavPath) + " " + mode + " 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "w");
    if (pipe == nullptr)
        return false;
    const bool written = fwrite(text.data(), 1, text.size(), pipe) == text.size();
    return ExitedCleanly(pclose(pipe)) && written;
}

}  // namespace rz::rtty::testing
