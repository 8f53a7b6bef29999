#include "wave/ClockPacer.h"

#include <algorithm>

namespace rz::wave {

namespace {
constexpr uint32_t kPiecesPerSecond = 50;
}

ClockPacer::ClockPacer(const StreamFormat& format, Clock::duration lateLimit)
    : m_bytesPerSecond(format.bytesPerSecond),
      m_pieceBytes(std::max<size_t>(1, format.rate / kPiecesPerSecond) * format.frameBytes),
      m_lateLimit(lateLimit)
{}

Clock::time_point ClockPacer::Due() const
{
    // Whole seconds apart, so that days of audio never overflow the product.
    const uint64_t seconds = m_bytes / m_bytesPerSecond;
    const uint64_t rest = m_bytes % m_bytesPerSecond;
    return m_epoch + std::chrono::seconds(seconds) + std::chrono::nanoseconds(rest * 1000000000ull / m_bytesPerSecond);
}

void ClockPacer::CatchUp()
{
    const Clock::time_point now = Clock::now();
    if (!m_started || now - Due() > m_lateLimit) {
        m_started = true;
        m_epoch = now;
        m_bytes = 0;
    }
}

Clock::time_point ClockPacer::Next()
{
    CatchUp();
    return Due();
}

Clock::time_point ClockPacer::Advance(size_t bytes)
{
    CatchUp();
    m_bytes += bytes;
    return Due();
}

void ClockPacer::Retract(size_t bytes) { m_bytes -= bytes < m_bytes ? bytes : m_bytes; }

bool AwaitRecorded(ClockPacer& pacer, Alarm& alarm, size_t bytes)
{
    if (alarm.SleepUntil(pacer.Advance(bytes)))
        return true;
    pacer.Retract(bytes);
    return false;
}

}  // namespace rz::wave
