// The loopback backend: one in-process cable. What plays on device 0 goes into the
// cable as it starts to play, and capture on device 0 takes it out at its own
// paced rate, so every byte played is captured, in order.
//
// A burst of playback reaches capture only once its first byte is kLatency old.
// That cushion absorbs a player thread that wakes late: capture inserts silence
// only when playback has really stopped, never in the middle of a stream.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

#include "wave/Backend.h"
#include "wave/ClockPacer.h"

namespace rz::wave {
namespace {

constexpr Clock::duration kLatency = std::chrono::milliseconds(250);
// What the cable holds for a capture that lags, in seconds of its audio; capture
// falls no further behind than its pacer's late limit.
constexpr size_t kCableSeconds = 4;

class Cable {
public:
    // Each end attaches once at a time; false when it is taken.
    bool AttachCapture(size_t capacity)
    {
        std::lock_guard lock(m_lock);
        if (m_captureAttached)
            return false;
        m_ring.assign(capacity, 0);
        m_start = m_count = 0;
        m_flowing = false;
        m_captureAttached = true;
        return true;
    }

    void DetachCapture()
    {
        std::lock_guard lock(m_lock);
        m_captureAttached = false;
    }

    bool AttachPlayback()
    {
        std::lock_guard lock(m_lock);
        return !std::exchange(m_playbackAttached, true);
    }

    void DetachPlayback()
    {
        std::lock_guard lock(m_lock);
        m_playbackAttached = false;
    }

    // With nobody capturing, played audio goes nowhere.
    void Push(const uint8_t* source, size_t bytes)
    {
        std::lock_guard lock(m_lock);
        if (!m_captureAttached)
            return;
        const size_t accepted = std::min(bytes, m_ring.size() - m_count);
        if (accepted > 0 && m_count == 0 && !m_flowing)
            m_heldSince = Clock::now();
        for (size_t done = 0; done < accepted;) {
            const size_t at = (m_start + m_count) % m_ring.size();
            const size_t run = std::min(accepted - done, m_ring.size() - at);
            std::memcpy(m_ring.data() + at, source + done, run);
            done += run;
            m_count += run;
        }
    }

    // Fills `bytes` of `destination` (null: drops them), silence where the cable
    // has nothing to give.
    void Take(uint8_t* destination, size_t bytes, uint8_t silence)
    {
        std::lock_guard lock(m_lock);
        if (!m_flowing && m_count > 0 && Clock::now() - m_heldSince >= kLatency)
            m_flowing = true;
        const size_t given = m_flowing ? std::min(bytes, m_count) : 0;
        for (size_t done = 0; done < given;) {
            const size_t run = std::min(given - done, m_ring.size() - m_start);
            if (destination)
                std::memcpy(destination + done, m_ring.data() + m_start, run);
            done += run;
            m_start = (m_start + run) % m_ring.size();
            m_count -= run;
        }
        if (destination)
            std::memset(destination + given, silence, bytes - given);
        // Ran dry: the next burst waits for its cushion again.
        if (given < bytes)
            m_flowing = false;
    }

private:
    std::mutex m_lock;
    std::vector<uint8_t> m_ring;
    size_t m_start = 0;
    size_t m_count = 0;
    bool m_flowing = false;
    Clock::time_point m_heldSince;
    bool m_captureAttached = false;
    bool m_playbackAttached = false;
};

class LoopbackCapture final : public CaptureStream {
public:
    LoopbackCapture(Cable& cable, const StreamFormat& format, Alarm& alarm)
        : m_cable(cable), m_silence(format.SilenceByte()), m_alarm(alarm), m_pacer(format, kCaptureLateLimit)
    {}
    ~LoopbackCapture() override
    {
        if (m_attached)
            m_cable.DetachCapture();
    }
    bool Attach(size_t capacity) { return m_attached = m_cable.AttachCapture(capacity); }

    Moved Read(uint8_t* destination, size_t bytes) override
    {
        if (!AwaitRecorded(m_pacer, m_alarm, bytes))
            return {};
        m_cable.Take(destination, bytes, m_silence);
        return {bytes};
    }

    Moved Drop(size_t bytes) override
    {
        if (!AwaitRecorded(m_pacer, m_alarm, bytes))
            return {};
        m_cable.Take(nullptr, bytes, m_silence);
        return {bytes};
    }

private:
    Cable& m_cable;
    bool m_attached = false;
    uint8_t m_silence;
    Alarm& m_alarm;
    ClockPacer m_pacer;
};

class LoopbackPlayback final : public PlaybackStream {
public:
    LoopbackPlayback(Cable& cable, const StreamFormat& format, Alarm& alarm)
        : m_cable(cable), m_alarm(alarm), m_pacer(format, kPlaybackLateLimit)
    {}
    ~LoopbackPlayback() override
    {
        if (m_attached)
            m_cable.DetachPlayback();
    }
    bool Attach() { return m_attached = m_cable.AttachPlayback(); }

    Moved Write(const uint8_t* source, size_t bytes) override
    {
        return {PlayPaced(m_pacer, m_alarm, bytes, [&](size_t piece) { m_cable.Push(source, piece); })};
    }

private:
    Cable& m_cable;
    bool m_attached = false;
    Alarm& m_alarm;
    ClockPacer m_pacer;
};

class LoopbackBackend final : public Backend {
public:
    unsigned DeviceCount(Direction) const override { return 1; }
    std::string DeviceName(Direction, unsigned) const override { return "loopback cable"; }

    MMRESULT OpenCapture(unsigned, const StreamFormat& format, Alarm& alarm, std::unique_ptr<CaptureStream>& stream,
                         std::string& reason) override
    {
        auto opened = std::make_unique<LoopbackCapture>(m_cable, format, alarm);
        if (!opened->Attach(kCableSeconds * format.bytesPerSecond)) {
            reason = "loopback: the capture end of the cable is in use";
            return MMSYSERR_ALLOCATED;
        }
        stream = std::move(opened);
        return MMSYSERR_NOERROR;
    }

    MMRESULT OpenPlayback(unsigned, const StreamFormat& format, Alarm& alarm, std::unique_ptr<PlaybackStream>& stream,
                          std::string& reason) override
    {
        auto opened = std::make_unique<LoopbackPlayback>(m_cable, format, alarm);
        if (!opened->Attach()) {
            reason = "loopback: the playback end of the cable is in use";
            return MMSYSERR_ALLOCATED;
        }
        stream = std::move(opened);
        return MMSYSERR_NOERROR;
    }

private:
    Cable m_cable;
};

std::unique_ptr<Backend> Create() { return std::make_unique<LoopbackBackend>(); }

}  // namespace

const BackendDescriptor kLoopbackBackend = {"loopback", "an in-process cable from playback to capture", false, Create};

}  // namespace rz::wave
