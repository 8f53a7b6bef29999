// ebook2cw, an independent Morse generator, run on a text.
#ifndef CW_TEST_EBOOK2CW_H
#define CW_TEST_EBOOK2CW_H

#include <optional>
#include <string>

namespace rz::cw::testing {

// Writes `text` as Morse at `wpm` on a 700 Hz tone, 8000 samples per second,
// into `folder`/NAME.ogg with ebook2cw; its path, or nothing when it failed.
std::optional<std::string> Ebook2cw(const std::string& program, const std::string& text, int wpm,
                                    const std::string& folder);

}  // namespace rz::cw::testing

#endif
