// Audio files for exchanging signals with other programs: mono 16-bit WAV at
// 8000 samples per second (or the rate given) written, anything libsndfile reads
// (WAV, Ogg Vorbis) read back.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace rz::test::support {

inline constexpr int kAudioRate = 8000;

bool WriteWav(const std::string& path, const std::vector<int16_t>& samples, int rate = kAudioRate);
// Nothing when the file cannot be read or is not mono at `rate` samples per second.
std::optional<std::vector<int16_t>> ReadWav(const std::string& path, int rate = kAudioRate);

}  // namespace rz::test::support
