// Runs minimodem, an independent RTTY modem, on WAV files.
#ifndef RTTY_TEST_MINIMODEM_H
#define RTTY_TEST_MINIMODEM_H

#include <optional>
#include <string>

namespace rz::rtty::testing {

// The minimodem program found on PATH, or nothing.
std::optional<std::string> FindMinimodem();

// The text that `minimodem --rx rtty -R 8000 -f wavPath` prints, or nothing when it failed.
std::optional<std::string> MinimodemReceive(const std::string& minimodem, const std::string& wavPath);

// Writes `text` as RTTY audio with `minimodem --tx rtty -R 8000 -f wavPath`, or
// at `baud` (1.5 stop bits, the same tones) when given.
bool MinimodemTransmit(const std::string& minimodem, const std::string& text, const std::string& wavPath,
                       const std::string& baud = "");

}  // namespace rz::rtty::testing

#endif
