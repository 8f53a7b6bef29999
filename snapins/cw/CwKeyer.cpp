#include "CwKeyer.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace rz::cw {

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;

// The rising raised-cosine edge, 0 at the start and 1 after kEdgeSamples.
double Rise(int sinceEdge)
{
    if (sinceEdge >= CwKeyer::kEdgeSamples)
        return 1.0;
    return 0.5 - 0.5 * std::cos(std::numbers::pi * (sinceEdge + 0.5) / CwKeyer::kEdgeSamples);
}

}  // namespace

CwKeyer::CwKeyer(double carrierHz, int wpm, int farnsworthWpm) : m_spacing(SpacingFor(wpm, farnsworthWpm))
{
    SetCarrier(carrierHz);
}

void CwKeyer::SetCarrier(double hz) { m_step = kTwoPi * hz / kSampleRate; }

void CwKeyer::SetSpeed(int wpm, int farnsworthWpm) { m_spacing = SpacingFor(wpm, farnsworthWpm); }

void CwKeyer::Queue(bool keyDown, int samples)
{
    m_queue.push_back(Segment{keyDown, samples});
    m_queuedSamples += samples;
}

bool CwKeyer::QueueChar(char32_t ch)
{
    // The longest character (8 dashes) fits in 40 dots; a word gap in far less.
    if (m_queuedSamples + int64_t{40} * m_spacing.dot + m_spacing.wordGap > kMaxQueuedSamples)
        return false;
    m_tokens.clear();
    m_encoder.Put(ch, m_tokens);
    for (const MorseTextEncoder::Token& token : m_tokens) {
        if (token.pattern.empty()) {
            Queue(false, m_spacing.wordGap - m_spacing.charGap);
            continue;
        }
        for (size_t i = 0; i < token.pattern.size(); ++i) {
            Queue(true, token.pattern[i] == '-' ? 3 * m_spacing.dot : m_spacing.dot);
            Queue(false, i + 1 < token.pattern.size() ? m_spacing.dot : m_spacing.charGap);
        }
    }
    return !m_tokens.empty();
}

int CwKeyer::RenderFront(int16_t* out, int room)
{
    const Segment& segment = m_queue.front();
    if (m_offset == 0 && segment.keyDown != m_keyDown) {
        m_keyDown = segment.keyDown;
        m_sinceEdge = 0;
    }
    const int run = std::min(segment.samples - m_offset, room);
    for (int i = 0; i < run; ++i) {
        const double rise = Rise(m_sinceEdge++);
        const double level = m_keyDown ? rise : 1.0 - rise;
        out[i] = static_cast<int16_t>(std::lround(kAmplitude * level * std::sin(m_phase)));
        m_phase += m_step;
        if (m_phase >= kTwoPi)
            m_phase -= kTwoPi;
    }
    m_sinceEdge = std::min(m_sinceEdge, kEdgeSamples);
    m_offset += run;
    m_queuedSamples -= run;
    if (m_offset == segment.samples) {
        m_queue.pop_front();
        m_offset = 0;
    }
    return run;
}

int CwKeyer::Render(int16_t* out, int capacity)
{
    int written = 0;
    while (written < capacity && !m_queue.empty())
        written += RenderFront(out + written, capacity - written);
    return written;
}

int CwKeyer::RenderIdle(int16_t* out, int wanted)
{
    const int written = Render(out, wanted);
    std::fill(out + written, out + wanted, int16_t{0});
    return wanted;
}

}  // namespace rz::cw
