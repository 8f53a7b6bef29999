// Other programs that tests run: found on PATH, run with their output read.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace rz::test::support {

// The program found on PATH, or nothing.
std::optional<std::string> FindProgram(const std::string& name);

// `text` quoted for the shell, as one word.
std::string ShellQuoted(const std::string& text);

// Runs `arguments` (the program first) with no input and stderr discarded;
// returns its standard output, or nothing when it did not exit with status 0.
std::optional<std::string> RunProgram(const std::vector<std::string>& arguments);

}  // namespace rz::test::support
