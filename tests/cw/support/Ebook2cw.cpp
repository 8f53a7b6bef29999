#include "Ebook2cw.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "Programs.h"

namespace rz::cw::testing {

using rz::test::support::ShellQuoted;

std::optional<std::string> Ebook2cw(const std::string& program, const std::string& text, int wpm,
                                    const std::string& folder)
{
    const std::string input = folder + "/text.txt";
    std::ofstream(input) << text << "\n";
    const std::string name = folder + "/ebook2cw-" + std::to_string(wpm);
    // ebook2cw keeps its configuration under HOME, which is the test's folder here;
    // no chapter splitting, Ogg Vorbis at 8000 samples per second.
    const std::string command = "HOME=" + ShellQuoted(folder) + " " + ShellQuoted(program) + " -O -s 8000 -f 700 -w " +
                                std::to_string(wpm) + " -c '' -o " + ShellQuoted(name) + " " + ShellQuoted(input) +
                                " >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0)
        return std::nullopt;
    const std::string path = name + ".ogg";
    return access(path.c_str(), R_OK) == 0 ? std::optional<std::string>(path) : std::nullopt;
}

}  // namespace rz::cw::testing
