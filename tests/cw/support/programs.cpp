#include "programs.h"

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace rz::cw::testing {

namespace {

std::string Quoted(const std::string& text)
{
    std::string quoted = "'";
    for (const char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

}  // namespace

std::optional<std::string> FindProgram(const std::string& name)
{
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path != nullptr ? path : "");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        const std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return std::nullopt;
}

std::optional<std::string> Run(const std::vector<std::string>& arguments)
{
    std::string command;
    for (const std::string& argument : arguments)
        command += Quoted(argument) + " ";
    FILE* pipe = popen((command + "2>/dev/null </dev/null").c_str(), "r");
    if (pipe == nullptr)
        return std::nullopt;
    std::string output;
    std::array<char, 4096> buffer;
    size_t got = 0;
    while ((got = fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        output.append(buffer.data(), got);
    const int status = pclose(pipe);
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return std::nullopt;
    return output;
}

std::optional<std::string> Ebook2cw(const std::string& program, const std::string& text, int wpm,
                                    const std::string& folder)
{
    const std::string input = folder + "/text.txt";
    std::ofstream(input) << text << "\n";
    const std::string name = folder + "/ebook2cw-" + std::to_string(wpm);
    // ebook2cw keeps its configuration under HOME, which is the test's folder here;
    // no chapter splitting, Ogg Vorbis at 8000 samples per second.
    const std::string command = "HOME=" + Quoted(folder) + " " + Quoted(program) + " -O -s 8000 -f 700 -w " +
                                std::to_string(wpm) + " -c '' -o " + Quoted(name) + " " + Quoted(input) +
                                " >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0)
        return std::nullopt;
    const std::string path = name + ".ogg";
    return access(path.c_str(), R_OK) == 0 ? std::optional<std::string>(path) : std::nullopt;
}

}  // namespace rz::cw::testing
