#include "wave/Alarm.h"

namespace rz::wave {

void Alarm::Raise()
{
    {
        std::lock_guard lock(m_lock);
        m_raised = true;
    }
    m_wake.notify_all();
}

bool Alarm::SleepUntil(Clock::time_point deadline)
{
    std::unique_lock lock(m_lock);
    const bool rang = m_wake.wait_until(lock, deadline, [this] { return m_raised; });
    m_raised = false;
    return !rang;
}

void Alarm::SleepUntilRaised()
{
    std::unique_lock lock(m_lock);
    m_wake.wait(lock, [this] { return m_raised; });
    m_raised = false;
}

}  // namespace rz::wave
