// Other programs the CW tests run: ebook2cw, an independent Morse generator,
// and dgterm.
#ifndef CW_TEST_PROGRAMS_H
#define CW_TEST_PROGRAMS_H

#include <optional>
#include <string>
#include <vector>

namespace rz::cw::testing {

// The program found on PATH, or nothing.
std::optional<std::string> FindProgram(const std::string& name);

// Writes `text` as Morse at `wpm` on a 700 Hz tone, 8000 samples per second,
// into `folder`/NAME.ogg with ebook2cw; its path, or nothing when it failed.
std::optional<std::string> Ebook2cw(const std::string& program, const std::string& text, int wpm,
                                    const std::string& folder);

// Runs `arguments` (the program first) and returns its standard output, or
// nothing when it did not exit with status 0.
std::optional<std::string> Run(const std::vector<std::string>& arguments);

}  // namespace rz::cw::testing

#endif
