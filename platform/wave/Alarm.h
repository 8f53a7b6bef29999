// Wakes a device's driver thread whenever the device's state changes (a buffer
// queued, a reset, a pause, a close), so that its paced waits end at once.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace rz::wave {

using Clock = std::chrono::steady_clock;

class Alarm {
public:
    void Raise();
    // Sleeps until `deadline`. False when the alarm rang first; each ring wakes
    // one sleep, even a ring that came before the sleep began.
    bool SleepUntil(Clock::time_point deadline);
    void SleepUntilRaised();

private:
    std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_raised = false;
};

}  // namespace rz::wave
