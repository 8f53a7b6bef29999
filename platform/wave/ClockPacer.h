// The timeline of a device paced by the clock: the moment at which the audio
// handed over so far is due. Audio follows on without a gap, so a thread that woke
// late catches up; one that fell further behind than the late limit (a starved
// player, a stalled reader) starts afresh from now instead.
#pragma once

#include <cstddef>
#include <cstdint>

#include "wave/Backend.h"

namespace rz::wave {

// A reader that fell a second behind has overrun the device's buffer; a player
// that ran dry for a tenth of a second has left a gap, not a backlog.
inline constexpr Clock::duration kCaptureLateLimit = std::chrono::seconds(1);
inline constexpr Clock::duration kPlaybackLateLimit = std::chrono::milliseconds(100);

class ClockPacer {
public:
    ClockPacer(const StreamFormat& format, Clock::duration lateLimit);
    // When the next audio starts.
    Clock::time_point Next();
    // Counts `bytes` more and returns when they end.
    Clock::time_point Advance(size_t bytes);
    // Takes back bytes counted by the last Advance.
    void Retract(size_t bytes);
    // Playback goes out in pieces this long (50 per second, whole frames), so that
    // a pause holds a buffer part-played.
    size_t PieceBytes() const { return m_pieceBytes; }

private:
    Clock::time_point Due() const;
    void CatchUp();

    uint32_t m_bytesPerSecond;
    size_t m_pieceBytes;
    Clock::duration m_lateLimit;
    bool m_started = false;
    Clock::time_point m_epoch;
    uint64_t m_bytes = 0;
};

// A capture device paced by the clock: waits until `bytes` have been recorded.
// False when the alarm cut the wait short; nothing is counted then.
bool AwaitRecorded(ClockPacer& pacer, Alarm& alarm, size_t bytes);

// A playback device paced by the clock: waits for its turn, hands the next piece
// of `bytes` to `deliver` as it starts to play, and returns its length once it has
// played; 0 when the alarm cut the wait for the turn short.
template <class Deliver>
size_t PlayPaced(ClockPacer& pacer, Alarm& alarm, size_t bytes, Deliver&& deliver)
{
    if (!alarm.SleepUntil(pacer.Next()))
        return 0;
    const size_t piece = bytes < pacer.PieceBytes() ? bytes : pacer.PieceBytes();
    deliver(piece);
    // A ring ends this wait early: the piece has gone to the device all the same,
    // and the next turn waits for its end.
    alarm.SleepUntil(pacer.Advance(piece));
    return piece;
}

}  // namespace rz::wave
