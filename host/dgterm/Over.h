// One transmission ("over"): key, hand the text to the module, wait until it has
// been encoded and its audio played, unkey.
#pragma once

#include <chrono>
#include <string>

#include <ruzada/wintypes.h>

#include "Ptt.h"
#include "Station.h"

// Once transmit is off, the module hands the playback device what is left in its
// FIFO and then nothing more; the device's position stops when the last buffer
// has played. Standing still this long (six of the module's 41.6 ms buffers, and
// longer than a sound server's usual latency) means the audio is out.
inline constexpr std::chrono::milliseconds kPlayoutSettle{250};
// The most the audio can still take: 48 buffers and a FIFO of 4 s, with margin.
inline constexpr std::chrono::milliseconds kLongestPlayout{6500};

class Over {
public:
    using Clock = std::chrono::steady_clock;
    enum class Phase { Sending, PlayingOut, Done };

    // `ptt` may be null (no keying).
    Over(Station& station, Ptt* ptt);
    // An over still on the air is cut short: transmit off, unkeyed.
    ~Over();
    Over(const Over&) = delete;
    Over& operator=(const Over&) = delete;

    // Keys, queues `text` with SendDGCharA and switches transmit on. False, with
    // the reason, when the transmitter cannot be keyed; nothing is sent then.
    bool Begin(const std::string& text, std::string& error);
    // Adds text to an over that is still sending.
    void Append(const std::string& text);
    // How much text the over has been given.
    size_t Queued() const { return m_queued; }
    // Moves on when the module has sent everything, or the audio has played:
    // its playback position stood still for kPlayoutSettle, kLongestPlayout
    // passed, or no playback device is open.
    Phase Advance(Clock::time_point now);
    Phase CurrentPhase() const { return m_phase; }

private:
    void Finish();
    bool PlayedOut(Clock::time_point now);

    Station& m_station;
    Ptt* m_ptt;
    size_t m_queued = 0;
    Phase m_phase = Phase::Done;
    Clock::time_point m_playoutLimit;
    DWORD m_played = 0;  // the playback position when it last moved
    Clock::time_point m_playedMoved;
};
