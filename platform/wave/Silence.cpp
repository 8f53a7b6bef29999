// Clock-paced silence: the null backend's streams and the zombie of a failed one.
#include <cstring>

#include "wave/Backend.h"
#include "wave/ClockPacer.h"

namespace rz::wave {
namespace {

class SilentCapture final : public CaptureStream {
public:
    SilentCapture(const StreamFormat& format, Alarm& alarm)
        : m_silence(format.SilenceByte()), m_alarm(alarm), m_pacer(format, kCaptureLateLimit)
    {}

    Moved Read(uint8_t* destination, size_t bytes) override
    {
        if (!AwaitRecorded(m_pacer, m_alarm, bytes))
            return {};
        std::memset(destination, m_silence, bytes);
        return {bytes};
    }

    Moved Drop(size_t bytes) override { return {AwaitRecorded(m_pacer, m_alarm, bytes) ? bytes : 0}; }

private:
    uint8_t m_silence;
    Alarm& m_alarm;
    ClockPacer m_pacer;
};

class SilentPlayback final : public PlaybackStream {
public:
    SilentPlayback(const StreamFormat& format, Alarm& alarm) : m_alarm(alarm), m_pacer(format, kPlaybackLateLimit) {}

    Moved Write(const uint8_t*, size_t bytes) override
    {
        return {PlayPaced(m_pacer, m_alarm, bytes, [](size_t) {})};
    }

private:
    Alarm& m_alarm;
    ClockPacer m_pacer;
};

}  // namespace

std::unique_ptr<CaptureStream> MakeSilentCapture(const StreamFormat& format, Alarm& alarm)
{
    return std::make_unique<SilentCapture>(format, alarm);
}

std::unique_ptr<PlaybackStream> MakeSilentPlayback(const StreamFormat& format, Alarm& alarm)
{
    return std::make_unique<SilentPlayback>(format, alarm);
}

}  // namespace rz::wave
