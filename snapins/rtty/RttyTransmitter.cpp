#include "RttyTransmitter.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace rz::rtty {

namespace {

// Raised-cosine gain `samples` into a fade of kFadeSamples.
double FadeGain(int samples)
{
    if (samples >= RttyTransmitter::kFadeSamples)
        return 1.0;
    return (1.0 - std::cos(std::numbers::pi * (samples + 0.5) / RttyTransmitter::kFadeSamples)) / 2.0;
}

}  // namespace

RttyTransmitter::RttyTransmitter(Tones tones, BitTiming timing)
    : m_tones(tones), m_oscillator(tones), m_filter(tones, timing.bitSamples), m_timing(timing)
{}

void RttyTransmitter::SetTones(Tones tones)
{
    m_tones = tones;
    m_oscillator.SetTones(tones);
    m_filter.Retune(tones, m_timing.bitSamples);
}

void RttyTransmitter::Queue(Kind kind, uint8_t code)
{
    m_queue.push_back({kind, code});
    if (kind != Kind::Idle)
        ++m_queuedSymbols;
}

void RttyTransmitter::PopFront()
{
    if (m_queue.front().kind != Kind::Idle)
        --m_queuedSymbols;
    m_queue.pop_front();
    m_offset = 0;
}

void RttyTransmitter::BeginOver()
{
    // The transmitter was off: idle and a tail still queued belong to the last over.
    const auto ended = [](const Symbol& symbol) { return symbol.kind == Kind::Idle || symbol.kind == Kind::Tail; };
    if (!m_queue.empty() && ended(m_queue.front()))
        m_offset = 0;
    m_queuedSymbols -=
        std::count_if(m_queue.begin(), m_queue.end(), [](const Symbol& symbol) { return symbol.kind == Kind::Tail; });
    std::erase_if(m_queue, ended);
    m_overEnded = false;
    m_filter.Clear();
    if (!m_queue.empty())
        return;
    Queue(Kind::LeadIn, 0);
    for (int i = 0; i < kLeadInShifts; ++i)
        Queue(Kind::Data, kBaudotLetters);
    m_encoder.NoteLettersShift();
}

bool RttyTransmitter::QueueChar(char32_t ch)
{
    const auto charSamples = static_cast<int64_t>(std::ceil(m_timing.CharSamples()));
    if ((m_queuedSymbols + BaudotEncoder::kMaxCodesPerChar) * charSamples > kMaxQueuedSamples)
        return false;
    if (!BaudotEncoder::Carries(ch))
        return false;
    if (m_overEnded)
        BeginOver();
    uint8_t codes[BaudotEncoder::kMaxCodesPerChar];
    const int count = m_encoder.Encode(ch, codes);
    // A tail not yet begun moves behind the new text.
    const bool tailWaits =
        !m_queue.empty() && m_queue.back().kind == Kind::Tail && !(m_queue.size() == 1 && m_offset > 0);
    if (tailWaits) {
        m_queue.pop_back();
        --m_queuedSymbols;
    }
    for (int i = 0; i < count; ++i)
        Queue(Kind::Data, codes[i]);
    Queue(Kind::Tail, 0);
    return true;
}

RttyTransmitter::Layout RttyTransmitter::LayoutOf(const Symbol& symbol) const
{
    Layout layout;
    if (symbol.kind == Kind::LeadIn || symbol.kind == Kind::Tail) {
        layout.fill(symbol.kind == Kind::LeadIn ? kLeadInSamples : kTailSamples);
        return layout;
    }
    // Bits fall where an exact clock puts them, so that any baud keeps its rate.
    for (int bit = 0; bit <= kDataBits; ++bit)
        layout[static_cast<size_t>(bit)] = static_cast<int>(std::lround(m_lateness + (bit + 1) * m_timing.bitSamples));
    layout.back() = static_cast<int>(std::lround(m_lateness + m_timing.CharSamples()));
    return layout;
}

bool RttyTransmitter::MarkAt(const Symbol& symbol, int bit)
{
    if (symbol.kind == Kind::LeadIn || symbol.kind == Kind::Tail || bit > kDataBits)
        return true;
    return bit != 0 && ((symbol.code >> (bit - 1)) & 1) != 0;
}

double RttyTransmitter::GainAt(const Symbol& symbol, int offset) const
{
    if (symbol.kind == Kind::LeadIn)
        return FadeGain(offset);
    if (symbol.kind != Kind::Tail || m_idle)
        return 1.0;
    // Faded out, then silence until the filter has let all of it out.
    const int silence = m_filter.Length();
    return offset >= kTailSamples - silence ? 0.0 : FadeGain(kTailSamples - silence - 1 - offset);
}

void RttyTransmitter::Key(const Symbol& symbol, bool mark, int16_t* out, int count)
{
    m_keyed.resize(static_cast<size_t>(count));
    m_oscillator.Render(mark, m_keyed.data(), count);
    for (int i = 0; i < count; ++i) {
        const double keyed = m_keyed[static_cast<size_t>(i)] * GainAt(symbol, m_offset + i);
        out[i] = static_cast<int16_t>(std::lround(kAmplitude * m_filter.Process(keyed)));
    }
}

int RttyTransmitter::RenderFront(int16_t* out, int room)
{
    const Symbol& symbol = m_queue.front();
    if (m_offset == 0) {
        if (m_nextTiming) {
            m_timing = *m_nextTiming;
            m_nextTiming.reset();
            m_filter.Retune(m_tones, m_timing.bitSamples);
        }
        m_layout = LayoutOf(symbol);
    }
    const int total = m_layout.back();
    int written = 0;
    while (written < room && m_offset < total) {
        // One bit at a time: the tone holds until the next bit boundary.
        int bit = 0;
        while (m_layout[static_cast<size_t>(bit)] <= m_offset)
            ++bit;
        const int run = std::min(m_layout[static_cast<size_t>(bit)] - m_offset, room - written);
        Key(symbol, MarkAt(symbol, bit), out + written, run);
        written += run;
        m_offset += run;
    }
    if (m_offset == total) {
        if (symbol.kind == Kind::Data || symbol.kind == Kind::Idle)
            m_lateness += m_timing.CharSamples() - total;
        m_overEnded = symbol.kind == Kind::Tail && !m_idle;
        PopFront();
    }
    return written;
}

int RttyTransmitter::RenderQueued(int16_t* out, int room, bool withTail)
{
    int written = 0;
    while (written < room && !m_queue.empty()) {
        if (!withTail && m_queue.front().kind == Kind::Tail && m_offset == 0)
            break;
        written += RenderFront(out + written, room - written);
    }
    return written;
}

int RttyTransmitter::Render(int16_t* out, int capacity) { return RenderQueued(out, capacity, false); }

int RttyTransmitter::RenderIdle(int16_t* out, int wanted)
{
    int written = RenderQueued(out, wanted, true);
    while (m_idle && written < wanted) {
        Queue(Kind::Idle, kBaudotLetters);
        m_encoder.NoteLettersShift();
        written += RenderFront(out + written, wanted - written);
    }
    return written;
}

}  // namespace rz::rtty
