#include "Over.h"

Over::Over(Station& station, Ptt* ptt, std::chrono::milliseconds playout)
    : m_station(station), m_ptt(ptt), m_playout(playout)
{
}

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
        m_playedBy = now + m_playout;
        m_phase = Phase::PlayingOut;
    }
    if (m_phase == Phase::PlayingOut && now >= m_playedBy)
        Finish();
    return m_phase;
}

void Over::Finish()
{
    if (m_ptt)
        m_ptt->Unkey();
    m_phase = Phase::Done;
}
