// One open wave device: its header queue, its driver thread and its callbacks.
// The driver thread moves audio between the queued headers and the backend's
// stream, and is the only thread that calls the device's callback.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "wave/Backend.h"

namespace rz::wave {

// Headers chained through their lpNext field, so that queueing allocates nothing.
class HeaderList {
public:
    bool Empty() const { return m_first == nullptr; }
    WAVEHDR* Front() const { return m_first; }
    void PushBack(WAVEHDR* header);
    WAVEHDR* PopFront();

private:
    WAVEHDR* m_first = nullptr;
    WAVEHDR* m_last = nullptr;
};

class Device {
public:
    Device(Direction direction, const StreamFormat& format, WAVECALLBACK callback, DWORD_PTR instance);
    ~Device();
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    Direction GetDirection() const { return m_direction; }
    uint32_t FrameBytes() const { return m_format.frameBytes; }
    // Frames captured into returned buffers, or played from buffers played to
    // their end, since open or the last reset. Any thread may read it.
    uint64_t FramesDone() const { return m_framesDone.load(); }
    // Playback: frames queued but not yet played, and those the backend holds.
    uint64_t FramesPending();
    // The alarm that the backend's stream must wait on.
    Alarm& GetAlarm() { return m_alarm; }
    // Starts the driver thread on the backend's stream; `handle` is what the
    // callback receives as its device. Without a stream the device starts lost.
    void Start(void* handle, std::unique_ptr<CaptureStream> stream);
    void Start(void* handle, std::unique_ptr<PlaybackStream> stream);
    // The device runs as a zombie: its stream failed, or it opened without one.
    bool Lost() const { return m_lost.load(); }

    // Arguments are checked by the caller; these apply the rules of state.
    MMRESULT Prepare(WAVEHDR* header);
    MMRESULT Unprepare(WAVEHDR* header);
    MMRESULT Queue(WAVEHDR* header);
    // Capture: start and stop. Playback: restart and pause.
    MMRESULT SetRunning(bool running);
    MMRESULT Reset();
    // Ends the driver thread once it has delivered every callback, and releases
    // the backend's stream. A device closes once.
    MMRESULT Close();

private:
    void Launch(void* handle);
    void Run();
    void Notify(UINT message, WAVEHDR* header);
    // Waits until the driver thread is outside the backend, and keeps it there
    // while the caller holds m_lock.
    void WaitUntilIdle(std::unique_lock<std::mutex>& lock);
    size_t Usable(const WAVEHDR* header) const;
    size_t Progress(const WAVEHDR* header) const;
    void AddProgress(WAVEHDR* header, size_t bytes);
    void Return(WAVEHDR* header);
    // Returns the queue's head with its audio counted in the position.
    void Complete(WAVEHDR* header);
    Moved Transfer(WAVEHDR* header, size_t offset, size_t bytes);
    void BecomeZombie(const char* reason);

    const Direction m_direction;
    const StreamFormat m_format;
    const WAVECALLBACK m_callback;
    const DWORD_PTR m_instance;
    const size_t m_dropBytes;
    void* m_handle = nullptr;

    Alarm m_alarm;
    std::unique_ptr<CaptureStream> m_captureStream;
    std::unique_ptr<PlaybackStream> m_playbackStream;
    std::unique_ptr<CaptureStream> m_captureZombie;
    std::unique_ptr<PlaybackStream> m_playbackZombie;
    // The stream in use; only the driver thread switches it.
    CaptureStream* m_capture = nullptr;
    PlaybackStream* m_playback = nullptr;
    std::atomic<bool> m_lost{false};

    std::mutex m_lock;
    std::condition_variable m_idle;
    HeaderList m_queue;
    HeaderList m_returned;                  // waiting for their callback
    size_t m_headOffset = 0;                // playback: bytes of the queue's head played so far
    std::atomic<uint64_t> m_framesDone{0};  // written under m_lock
    bool m_running;
    bool m_busy = false;  // the driver thread is inside the backend
    int m_holds = 0;      // callers waiting for the driver thread to stay out of it
    bool m_closing = false;
    std::thread m_thread;
};

// Keeps the backend's reason for a device that failed while running, for
// GetWaveFailure, and has the backend looked over anew before the next open.
void RecordLoss(const char* reason);

}  // namespace rz::wave
