#include "Over.h"

#include <algorithm>

#include <DGSnapin.h>
#include <ruzada/wave.h>

#include "Text.h"

namespace rz::dgterm {
namespace {

// Text is handed over one encoder batch ahead of what the module has sent:
// enough to keep the card fed, little to drop when the over is stopped.
constexpr size_t kHandedAhead = DG_MAX_BATCH;

}  // namespace

Over::Over(Station& station, Keyer* keyer, PttTiming timing)
    : m_station(station), m_keyer(keyer), m_timing(keyer ? timing : PttTiming{})
{}

Over::~Over()
{
    if (m_phase == Phase::Keying || m_phase == Phase::Sending)
        Abort();
    Finish();
}

bool Over::Begin(const std::string& text, std::string& error)
{
    if (m_keyer && !m_keyer->Key(error))
        return false;
    m_units = ToUtf16(text);
    m_phase = Phase::Keying;
    m_due = Clock::now() + m_timing.lead;
    return true;
}

void Over::Append(const std::string& text)
{
    m_units += ToUtf16(text);
    if (m_phase == Phase::Sending)
        Feed();
}

void Over::Feed()
{
    for (; m_handed < m_units.size() && m_handed - m_confirmed < kHandedAhead; ++m_handed)
        m_station.Api().SendDGCharW(m_units[m_handed]);
}

void Over::OnSent()
{
    if (m_confirmed < m_handed)
        ++m_confirmed;
    if (m_phase == Phase::Sending)
        Feed();
}

Over::Phase Over::Advance(Clock::time_point now)
{
    if (m_phase == Phase::Keying && now >= m_due) {
        // Queued before transmit goes on, so that the first audio is the text's
        // and not the mode's idle.
        Feed();
        m_station.SetTransmit(true);
        m_phase = Phase::Sending;
    }
    if (m_phase == Phase::Sending) {
        Feed();
        if (m_handed == m_units.size() && m_station.Api().IsDGSendIdle()) {
            // A batch the encoder made no audio of is never reported sent.
            m_confirmed = m_handed;
            m_station.SetTransmit(false);
            m_due = now + kLongestPlayout;
            m_playedMoved = now;
            GetOpenWaveOutPosition(&m_played);
            m_phase = Phase::PlayingOut;
        }
    }
    if (m_phase == Phase::PlayingOut && PlayedOut(now)) {
        m_due = now + m_timing.tail;
        m_phase = Phase::Tail;
    }
    if (m_phase == Phase::Tail && now >= m_due)
        Finish();
    return m_phase;
}

bool Over::PlayedOut(Clock::time_point now)
{
    DWORD played = 0;
    DWORD pending = 0;
    // The module shares this process's wave driver: its playback device is the
    // one open.
    if (!GetOpenWaveOutPosition(&played) || !GetOpenWaveOutPending(&pending))
        return true;
    if (played != m_played || pending > 0) {
        m_played = played;
        m_playedMoved = now;
    }
    return now - m_playedMoved >= kPlayoutSettle || now >= m_due;
}

std::string Over::Abort()
{
    const std::string unsent = UnsentText();
    if (m_phase == Phase::Done)
        return unsent;
    if (m_keyer)
        m_keyer->Unkey();
    m_units.resize(m_confirmed);
    m_handed = m_confirmed;
    if (m_phase == Phase::Sending || m_phase == Phase::PlayingOut)
        m_station.DiscardTransmission();
    m_phase = Phase::Done;
    return unsent;
}

void Over::Finish()
{
    if (m_keyer)
        m_keyer->Unkey();
    m_phase = Phase::Done;
}

std::string Over::SentText() const { return ToUtf8(m_units.substr(0, m_confirmed)); }

std::string Over::UnsentText() const { return ToUtf8(m_units.substr(m_confirmed)); }

}  // namespace rz::dgterm
