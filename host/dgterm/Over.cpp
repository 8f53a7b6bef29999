#include "Over.h"

#include <ruzada/wave.h>

Over::Over(Station& station, Ptt* ptt) : m_station(station), m_ptt(ptt) {}

Over::~Over()
{
    if (m_phase == Phase::Sending)
        m_station.SetTransmit(false);
    Finish();
}

bool Over::Begin(const std::string& text, std::string& error)
{
    if (m_ptt && !m_ptt->Key(error))
        return false;
    // Queued before transmit goes on, so that the first audio is the text's and
    // not the mode's idle.
    Append(text);
    m_station.SetTransmit(true);
    m_phase = Phase::Sending;
    return true;
}

void Over::Append(const std::string& text)
{
    m_queued += text.size();
    for (char ch : text)
        m_station.Api().SendDGCharA(ch);
}

Over::Phase Over::Advance(Clock::time_point now)
{
    if (m_phase == Phase::Sending && m_station.Api().IsDGSendIdle()) {
        m_station.SetTransmit(false);
        m_playoutLimit = now + kLongestPlayout;
        m_playedMoved = now;
        GetOpenWaveOutPosition(&m_played);
        m_phase = Phase::PlayingOut;
    }
    if (m_phase == Phase::PlayingOut && PlayedOut(now))
        Finish();
    return m_phase;
}

bool Over::PlayedOut(Clock::time_point now)
{
    DWORD played = 0;
    // The module shares this process's wave driver: its playback device is the
    // one open.
    if (!GetOpenWaveOutPosition(&played))
        return true;
    if (played != m_played) {
        m_played = played;
        m_playedMoved = now;
    }
    return now - m_playedMoved >= kPlayoutSettle || now >= m_playoutLimit;
}

void Over::Finish()
{
    if (m_ptt)
        m_ptt->Unkey();
    m_phase = Phase::Done;
}
