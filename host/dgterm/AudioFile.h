// Recordings at any sample rate and channel count, converted to and from the
// sound card's mono audio by libsndfile and libsamplerate.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace rz::dgterm {

// A recording fed to the file sound driver as the card's mono audio at
// `cardRate`: read (a file, a FIFO, or "-" for stdin) and converted on a thread
// of its own, and written into a FIFO that the driver reads as it comes, so a
// stream is decoded while it arrives.
class RecordingFeed {
public:
    // Nothing, with the reason, when the recording cannot be read.
    static std::unique_ptr<RecordingFeed> Open(const std::string& path, int cardRate, std::string& error);
    ~RecordingFeed();
    RecordingFeed(const RecordingFeed&) = delete;
    RecordingFeed& operator=(const RecordingFeed&) = delete;

    // For RUZADA_AUDIO_IN.
    const std::string& DriverPath() const;
    // The card's frames written so far, and whether the recording has ended.
    uint64_t FramesFed() const;
    bool Ended() const;
    // Why the recording could not be read, once it has ended; "" when it could.
    std::string Error() const;
    // Ends the stream for the driver at once; a read still waiting for the
    // recording's writer is left to the end of the process.
    void Stop();

    struct Shared;

private:
    explicit RecordingFeed(std::shared_ptr<Shared> shared);

    std::shared_ptr<Shared> m_shared;
};

// Writes the card's mono WAV `from` as `to` at `rate` with `channels` (the mono
// audio in each); false with the reason.
bool ConvertRecording(const std::string& from, const std::string& to, int rate, int channels, std::string& error);

}  // namespace rz::dgterm
