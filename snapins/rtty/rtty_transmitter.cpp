#include "rtty_transmitter.h"

#include <algorithm>

#include "rtty_timing.h"

namespace rz::rtty {

RttyTransmitter::RttyTransmitter(Tones tones) : m_oscillator(tones) {}

int RttyTransmitter::SymbolSamples(const Symbol& symbol)
{
    return symbol.kind == Kind::LeadIn ? kLeadInSamples : kCharSamples;
}

void RttyTransmitter::Queue(Kind kind, uint8_t code)
{
    const Symbol symbol{kind, code};
    m_queue.push_back(symbol);
    if (kind != Kind::Idle)
        m_queuedDataSamples += SymbolSamples(symbol);
}

void RttyTransmitter::BeginOver()
{
    if (!m_queue.empty() && m_queue.front().kind == Kind::Idle)
        m_offset = 0;
    std::erase_if(m_queue, [](const Symbol& symbol) { return symbol.kind == Kind::Idle; });
    if (!m_queue.empty())
        return;
    Queue(Kind::LeadIn, 0);
    for (int i = 0; i < kLeadInShifts; ++i)
        Queue(Kind::Data, kBaudotLetters);
    m_encoder.NoteLettersShift();
}

bool RttyTransmitter::QueueChar(char32_t ch)
{
    if (m_queuedDataSamples + int64_t{BaudotEncoder::kMaxCodesPerChar} * kCharSamples > kMaxQueuedSamples)
        return false;
    uint8_t codes[BaudotEncoder::kMaxCodesPerChar];
    const int count = m_encoder.Encode(ch, codes);
    for (int i = 0; i < count; ++i)
        Queue(Kind::Data, codes[i]);
    return count > 0;
}

int RttyTransmitter::RenderFront(int16_t* out, int room)
{
    const Symbol& symbol = m_queue.front();
    const int total = SymbolSamples(symbol);
    int written = 0;
    while (written < room && m_offset < total) {
        // One bit at a time: the tone holds until the next bit boundary.
        const int bit = m_offset / kSamplesPerBit;
        bool mark = true;
        int runEnd = total;
        if (symbol.kind != Kind::LeadIn && bit <= kDataBits) {
            mark = bit != 0 && ((symbol.code >> (bit - 1)) & 1) != 0;
            runEnd = (bit + 1) * kSamplesPerBit;
        }
        const int run = std::min(runEnd - m_offset, room - written);
        m_oscillator.Render(mark, out + written, run);
        written += run;
        m_offset += run;
    }
    if (symbol.kind != Kind::Idle)
        m_queuedDataSamples -= written;
    if (m_offset == total) {
        m_queue.pop_front();
        m_offset = 0;
    }
    return written;
}

int RttyTransmitter::Render(int16_t* out, int capacity)
{
    int written = 0;
    while (written < capacity && !m_queue.empty())
        written += RenderFront(out + written, capacity - written);
    return written;
}

int RttyTransmitter::RenderIdle(int16_t* out, int wanted)
{
    int written = 0;
    while (written < wanted) {
        if (m_queue.empty()) {
            Queue(Kind::Idle, kBaudotLetters);
            m_encoder.NoteLettersShift();
        }
        written += RenderFront(out + written, wanted - written);
    }
    return written;
}

}  // namespace rz::rtty
