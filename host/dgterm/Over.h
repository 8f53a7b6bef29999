// One transmission ("over"): key, wait the lead time, hand the text to the module
// as it sends, wait until its audio has left the card, wait the tail, unkey.
#pragma once

#include <chrono>
#include <string>

#include <ruzada/wintypes.h>

#include "HostWindow.h"
#include "Ptt.h"
#include "Station.h"

namespace rz::dgterm {

// Once transmit is off, the module hands the playback device what is left in its
// FIFO and then nothing more. The audio is out when the device holds none (its
// sound system's output latency counted) and its position has stood still this
// long (three of the module's 41.6 ms buffers: its FIFO is empty too).
inline constexpr std::chrono::milliseconds kPlayoutSettle{125};
// The most the audio can still take: 48 buffers and a FIFO of 4 s, with margin.
inline constexpr std::chrono::milliseconds kLongestPlayout{6500};

struct PttTiming {
    std::chrono::milliseconds lead{0};
    std::chrono::milliseconds tail{0};
};

class Over {
public:
    using Clock = std::chrono::steady_clock;
    enum class Phase { Keying, Sending, PlayingOut, Tail, Done };

    // `keyer` may be null (no keying, and no lead or tail).
    Over(Station& station, Keyer* keyer, PttTiming timing);
    // An over still on the air is cut short, as by Abort.
    ~Over();
    Over(const Over&) = delete;
    Over& operator=(const Over&) = delete;

    // Keys and takes `text`. False, with the reason, when the transmitter cannot
    // be keyed; nothing is sent then.
    bool Begin(const std::string& text, std::string& error);
    // Adds text to an over that is still sending.
    void Append(const std::string& text);
    // How much text (UTF-16 units) the over has been given.
    size_t Queued() const { return m_units.size(); }
    // Moves on: transmit on after the lead time, text handed to the module a
    // batch ahead of what it has sent, transmit off when all is sent, unkeyed a
    // tail after the audio has left the card (nothing pending on the playback
    // device and its position still for kPlayoutSettle, kLongestPlayout passed,
    // or no playback device is open).
    Phase Advance(Clock::time_point now);
    Phase CurrentPhase() const { return m_phase; }
    // The module reported a character sent ("DG_SENTCHAR").
    void OnSent();
    // Stops at once: unkeyed, nothing more sent, the module's queue and audio
    // dropped. Returns the text that did not go out.
    std::string Abort();

    std::string SentText() const;
    std::string UnsentText() const;

private:
    void Feed();
    bool PlayedOut(Clock::time_point now);
    void Finish();

    Station& m_station;
    Keyer* m_keyer;
    PttTiming m_timing;
    std::u16string m_units;
    size_t m_handed = 0;
    size_t m_confirmed = 0;
    Phase m_phase = Phase::Done;
    Clock::time_point m_due;  // the end of the lead, the playout limit or the tail
    DWORD m_played = 0;       // the playback position when it last moved
    Clock::time_point m_playedMoved;
};

// For a host that runs overs with no session: the module's reports of sent
// characters reach the over, which hands over the rest of its text as they come.
class OverEvents final : public ModuleEvents {
public:
    void OnReceived(uint32_t) override {}
    void OnSent(uint32_t) override
    {
        if (over)
            over->OnSent();
    }
    void OnSpectrum() override {}

    Over* over = nullptr;
};

}  // namespace rz::dgterm
