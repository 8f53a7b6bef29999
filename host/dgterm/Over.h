// One transmission ("over"): key, hand the text to the module, wait until it has
// been encoded and its audio played, unkey.
#pragma once

#include <chrono>
#include <string>

#include "Ptt.h"
#include "Station.h"

// The module queues up to 48 buffers of 41.6 ms and a FIFO of 4 s ahead of the
// sound device, and tells a host nothing about what has been played; so the
// transmitter stays keyed for as long as that queue can take to play out, with a
// margin for the sound server's own buffering.
inline constexpr std::chrono::milliseconds kLongestPlayout{6500};

class Over {
public:
    using Clock = std::chrono::steady_clock;
    enum class Phase { Sending, PlayingOut, Done };

    // `ptt` may be null (no keying). `playout` is how long the audio may still
    // play once the module has encoded everything.
    Over(Station& station, Ptt* ptt, std::chrono::milliseconds playout = kLongestPlayout);
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
    // Moves on when the module has sent everything, or the audio has played.
    Phase Advance(Clock::time_point now);
    Phase CurrentPhase() const { return m_phase; }

private:
    void Finish();

    Station& m_station;
    Ptt* m_ptt;
    std::chrono::milliseconds m_playout;
    size_t m_queued = 0;
    Phase m_phase = Phase::Done;
    Clock::time_point m_playedBy;
};
