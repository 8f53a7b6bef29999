// The file backend: capture reads the WAV file named by RUZADA_AUDIO_IN, playback
// writes the one named by RUZADA_AUDIO_OUT, through libsndfile. Both are paced by
// the clock unless RUZADA_AUDIO_PACE=0, when they go as fast as buffers come.
// A capture file that ends goes on as silence, like a line with nothing on it.
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include <sndfile.h>

#include "wave/Backend.h"
#include "wave/ClockPacer.h"

namespace rz::wave {
namespace {

constexpr sf_count_t kChunkFrames = 1024;

const char* InputPath() { return std::getenv("RUZADA_AUDIO_IN"); }
const char* OutputPath() { return std::getenv("RUZADA_AUDIO_OUT"); }

bool Paced()
{
    const char* pace = std::getenv("RUZADA_AUDIO_PACE");
    return !pace || std::strcmp(pace, "0") != 0;
}

bool Named(const char* path) { return path && *path; }

struct CloseSoundFile {
    void operator()(SNDFILE* file) const { sf_close(file); }
};
// Closing a file written through libsndfile writes its final header.
using SoundFile = std::unique_ptr<SNDFILE, CloseSoundFile>;

class FileCapture : public CaptureStream {
public:
    FileCapture(const StreamFormat& format, Alarm& alarm, SoundFile file, int fileChannels, bool paced)
        : m_format(format),
          m_alarm(alarm),
          m_file(std::move(file)),
          m_fileChannels(fileChannels),
          m_chunk(static_cast<size_t>(kChunkFrames) * std::max(fileChannels, 1))
    {
        if (paced)
            m_pacer.emplace(format, kCaptureLateLimit);
    }
    Moved Read(uint8_t* destination, size_t bytes) override
    {
        if (m_pacer && !AwaitRecorded(*m_pacer, m_alarm, bytes))
            return {};
        return Fill(destination, bytes);
    }

    Moved Drop(size_t bytes) override
    {
        // Unpaced, time passes only as buffers are queued: nothing goes by unheard.
        if (!m_pacer) {
            m_alarm.SleepUntilRaised();
            return {};
        }
        if (!AwaitRecorded(*m_pacer, m_alarm, bytes))
            return {};
        return Fill(nullptr, bytes);
    }

private:
    Moved Fill(uint8_t* destination, size_t bytes)
    {
        const size_t frames = bytes / m_format.frameBytes;
        size_t done = 0;
        while (done < frames && m_file) {
            const sf_count_t wanted = std::min<sf_count_t>(kChunkFrames, frames - done);
            const sf_count_t got = sf_readf_short(m_file.get(), m_chunk.data(), wanted);
            if (sf_error(m_file.get()) != SF_ERR_NO_ERROR)
                return {done * m_format.frameBytes, sf_strerror(m_file.get())};
            if (got <= 0) {
                m_file.reset();
                break;
            }
            if (destination)
                Convert(got, destination + done * m_format.frameBytes);
            done += static_cast<size_t>(got);
        }
        if (destination)
            std::memset(destination + done * m_format.frameBytes, m_format.SilenceByte(),
                        (frames - done) * m_format.frameBytes);
        return {bytes};
    }

    // Takes the file's first channel for a mono device, and repeats its last one
    // where the device has more channels than the file.
    void Convert(sf_count_t frames, uint8_t* destination) const
    {
        for (sf_count_t frame = 0; frame < frames; ++frame) {
            for (int channel = 0; channel < m_format.channels; ++channel) {
                const short sample = m_chunk[frame * m_fileChannels + std::min(channel, m_fileChannels - 1)];
                if (m_format.bits == 8) {
                    *destination++ = static_cast<uint8_t>((sample >> 8) + 128);
                } else {
                    std::memcpy(destination, &sample, sizeof sample);
                    destination += sizeof sample;
                }
            }
        }
    }

    StreamFormat m_format;
    Alarm& m_alarm;
    SoundFile m_file;  // null: silence
    int m_fileChannels;
    std::vector<short> m_chunk;
    std::optional<ClockPacer> m_pacer;
};

class FilePlayback : public PlaybackStream {
public:
    FilePlayback(const StreamFormat& format, Alarm& alarm, SoundFile file, bool paced)
        : m_alarm(alarm), m_file(std::move(file))
    {
        if (paced)
            m_pacer.emplace(format, kPlaybackLateLimit);
    }

    Moved Write(const uint8_t* source, size_t bytes) override
    {
        const char* failure = nullptr;
        const auto deliver = [&](size_t piece) {
            if (m_file && static_cast<size_t>(sf_write_raw(m_file.get(), source, piece)) != piece)
                failure = sf_strerror(m_file.get());
        };
        if (!m_pacer) {
            deliver(bytes);
            return {bytes, failure};
        }
        return {PlayPaced(*m_pacer, m_alarm, bytes, deliver), failure};
    }

private:
    Alarm& m_alarm;
    SoundFile m_file;  // null: discard
    std::optional<ClockPacer> m_pacer;
};

std::string FileReason(const char* what, const char* path)
{
    return std::string("file: ") + what + " " + path + ": " + sf_strerror(nullptr);
}

class FileBackend final : public Backend {
public:
    unsigned DeviceCount(Direction) const override { return 1; }

    std::string DeviceName(Direction direction, unsigned) const override
    {
        const char* path = direction == Direction::Capture ? InputPath() : OutputPath();
        if (Named(path))
            return path;
        return direction == Direction::Capture ? "silence" : "discard";
    }

    MMRESULT OpenCapture(unsigned, const StreamFormat& format, Alarm& alarm, std::unique_ptr<CaptureStream>& stream,
                         std::string& reason) override
    {
        if (m_captureOpen)
            return Taken("capture", reason);
        const char* path = InputPath();
        SoundFile file;
        SF_INFO info = {};
        if (Named(path)) {
            file.reset(sf_open(path, SFM_READ, &info));
            if (!file) {
                reason = FileReason("cannot read", path);
                return MMSYSERR_ERROR;
            }
            if (info.samplerate != static_cast<int>(format.rate)) {
                reason = std::string("file: ") + path + " holds " + std::to_string(info.samplerate) +
                         " samples per second, not " + std::to_string(format.rate);
                return WAVERR_BADFORMAT;
            }
        }
        stream = std::make_unique<Tracked<FileCapture>>(m_captureOpen, format, alarm, std::move(file), info.channels,
                                                        Paced());
        return MMSYSERR_NOERROR;
    }

    MMRESULT OpenPlayback(unsigned, const StreamFormat& format, Alarm& alarm, std::unique_ptr<PlaybackStream>& stream,
                          std::string& reason) override
    {
        if (m_playbackOpen)
            return Taken("playback", reason);
        const char* path = OutputPath();
        SoundFile file;
        if (Named(path)) {
            SF_INFO info = {};
            info.samplerate = static_cast<int>(format.rate);
            info.channels = format.channels;
            info.format = SF_FORMAT_WAV | (format.bits == 8 ? SF_FORMAT_PCM_U8 : SF_FORMAT_PCM_16);
            file.reset(sf_open(path, SFM_WRITE, &info));
            if (!file) {
                reason = FileReason("cannot write", path);
                return MMSYSERR_ERROR;
            }
            // The header follows every write, so the file is valid even while open.
            sf_command(file.get(), SFC_SET_UPDATE_HEADER_AUTO, nullptr, SF_TRUE);
        }
        stream = std::make_unique<Tracked<FilePlayback>>(m_playbackOpen, format, alarm, std::move(file), Paced());
        return MMSYSERR_NOERROR;
    }

private:
    // A stream that keeps its backend's "open" flag set while it lives.
    template <class Stream>
    class Tracked final : public Stream {
    public:
        template <class... Args>
        explicit Tracked(std::atomic<bool>& open, Args&&... args) : Stream(std::forward<Args>(args)...), m_open(open)
        {
            m_open = true;
        }
        ~Tracked() override { m_open = false; }

    private:
        std::atomic<bool>& m_open;
    };

    static MMRESULT Taken(const char* direction, std::string& reason)
    {
        reason = std::string("file: ") + direction + " is open already";
        return MMSYSERR_ALLOCATED;
    }

    // Cleared by the closing thread, outside the driver's lock.
    std::atomic<bool> m_captureOpen{false};
    std::atomic<bool> m_playbackOpen{false};
};

std::unique_ptr<Backend> Create() { return std::make_unique<FileBackend>(); }

}  // namespace

const BackendDescriptor kFileBackend = {"file", "WAV files through libsndfile", true, Create};

}  // namespace rz::wave
