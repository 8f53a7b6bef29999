// Mono 16-bit WAV files at 8000 samples per second, for exchanging audio with minimodem.
#ifndef RTTY_TEST_WAV_FILE_H
#define RTTY_TEST_WAV_FILE_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace rz::rtty::testing {

bool WriteWav(const std::string& path, const std::vector<int16_t>& samples);
// Nothing when the file cannot be read or is not mono at 8000 samples per second.
std::optional<std::vector<int16_t>> ReadWav(const std::string& path);

}  // namespace rz::rtty::testing

#endif
