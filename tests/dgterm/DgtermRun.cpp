#include "DgtermRun.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

namespace rz::test::dgterm {

std::string TempPath(const std::string& name)
{
    return (std::filesystem::path(::testing::TempDir()) / ("dgterm-" + std::to_string(getpid()) + "-" + name)).string();
}

std::string ReadText(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

Run RunDgterm(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
              const std::string& input)
{
    const std::string inPath = TempPath("stdin");
    std::ofstream(inPath, std::ios::binary) << input;
    const std::string outPath = TempPath("stdout");
    const std::string errPath = TempPath("stderr");
    std::string command = "env";
    for (const std::string& setting : environment)
        command += " " + Quoted(setting);
    command += " " + Quoted(DGTERM_PATH);
    for (const std::string& argument : arguments)
        command += " " + Quoted(argument);
    command += " <" + Quoted(inPath) + " >" + Quoted(outPath) + " 2>" + Quoted(errPath);

    Run run;
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(command.c_str());
    run.took = std::chrono::steady_clock::now() - start;
    if (status != -1 && WIFEXITED(status))
        run.exitCode = WEXITSTATUS(status);
    run.out = ReadText(outPath);
    run.err = ReadText(errPath);
    for (const std::string& path : {inPath, outPath, errPath})
        std::filesystem::remove(path);
    return run;
}

std::optional<std::string> Minimodem(const std::string& arguments, const std::string& input)
{
    const std::string inPath = TempPath("minimodem-in");
    const std::string outPath = TempPath("minimodem-out");
    std::ofstream(inPath, std::ios::binary) << input;
    const int status = std::system(
        ("minimodem " + arguments + " <" + Quoted(inPath) + " >" + Quoted(outPath) + " 2>/dev/null").c_str());
    std::string output = ReadText(outPath);
    std::filesystem::remove(inPath);
    std::filesystem::remove(outPath);
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return std::nullopt;
    return output;
}

std::string PulseServer(const std::string& folder, const char* action)
{
    const std::string command = "PULSE_RUNTIME_PATH=" + Quoted(folder) + " " +
                                Quoted(RUZADA_TESTS_DIR "/sound/pulse-null-sink.sh") + " " + action + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    std::string output;
    char chunk[256];
    while (pipe && fgets(chunk, sizeof chunk, pipe))
        output += chunk;
    return pipe && pclose(pipe) == 0 ? "" : output.empty() ? "failed" : output;
}

int StartInBackground(const std::string& command)
{
    const std::string pidPath = TempPath("background-pid");
    std::system((command + " & echo $! >" + Quoted(pidPath)).c_str());
    const int pid = std::atoi(ReadText(pidPath).c_str());
    std::filesystem::remove(pidPath);
    return pid;
}

}  // namespace rz::test::dgterm
