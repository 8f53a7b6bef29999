// Runs the dgterm program as a user would, and finds the tools the tests drive it with.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "Programs.h"

namespace rz::test::dgterm {

struct Run {
    int exitCode = -1;
    std::string out;
    std::string err;
    std::chrono::steady_clock::duration took{};
};

// dgterm with `arguments`, its environment changed by `environment` ("NAME=value"),
// `input` on stdin and stdout and stderr collected.
Run RunDgterm(const std::vector<std::string>& arguments, const std::vector<std::string>& environment = {},
              const std::string& input = "");

// What `minimodem ARGUMENTS` printed with `input` on its stdin, or nothing when
// it failed. Arguments are given to the shell as they stand.
std::optional<std::string> Minimodem(const std::string& arguments, const std::string& input = "");

// Runs the sound tests' PulseAudio daemon in `folder`: `action` "start" or
// "stop". "" when that worked, else why not.
std::string PulseServer(const std::string& folder, const char* action);

// Runs `command` in the background through the shell and returns its process
// id, or 0.
int StartInBackground(const std::string& command);

inline std::string Quoted(const std::string& text) { return rz::test::support::ShellQuoted(text); }

// A fresh path in the test's temporary folder, removed by the caller.
std::string TempPath(const std::string& name);

std::string ReadText(const std::string& path);

}  // namespace rz::test::dgterm
