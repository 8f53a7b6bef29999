// Audio files for exchanging CW with other programs: WAV written, and anything
// libsndfile reads (WAV, Ogg Vorbis) read, mono at 8000 samples per second.
#ifndef CW_TEST_AUDIO_FILE_H
#define CW_TEST_AUDIO_FILE_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace rz::cw::testing {

bool WriteWav(const std::string& path, const std::vector<int16_t>& samples);
// Nothing when the file cannot be read or is not mono at 8000 samples per second.
std::optional<std::vector<int16_t>> ReadAudio(const std::string& path);

}  // namespace rz::cw::testing

#endif
