#include "WavFile.h"

#include <sndfile.h>

namespace rz::test::support {

bool WriteWav(const std::string& path, const std::vector<int16_t>& samples, int rate)
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr)
        return false;
    const sf_count_t written = sf_write_short(file, samples.data(), static_cast<sf_count_t>(samples.size()));
    return sf_close(file) == 0 && written == static_cast<sf_count_t>(samples.size());
}

std::optional<std::vector<int16_t>> ReadWav(const std::string& path, int rate)
{
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr)
        return std::nullopt;
    std::optional<std::vector<int16_t>> samples;
    if (info.channels == 1 && info.samplerate == rate) {
        samples.emplace(static_cast<size_t>(info.frames));
        if (sf_read_short(file, samples->data(), info.frames) != info.frames)
            samples.reset();
    }
    sf_close(file);
    return samples;
}

}  // namespace rz::test::support
