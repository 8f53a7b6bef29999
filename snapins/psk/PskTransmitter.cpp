#include "PskTransmitter.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "Varicode.h"

namespace rz::psk {

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr std::complex<double> kQuarterTurn{0.0, 1.0};

}  // namespace

PskTransmitter::PskTransmitter(const Submode& submode, double carrierHz, bool lsb)
    : m_submode(submode), m_carrierHz(carrierHz), m_nextCarrierHz(carrierHz), m_lsb(lsb)
{
    BeginOver();
}

void PskTransmitter::BeginOver()
{
    if (!m_queue.empty())
        return;
    m_encoder.Reset();
    m_preambleOwed = m_submode.preambleSymbols;
    m_postambleOwed = false;
    m_closed = false;
}

void PskTransmitter::SetCarrier(double hz)
{
    m_nextCarrierHz = hz;
    m_preambleOwed = m_submode.preambleSymbols;
}

void PskTransmitter::Queue(Kind kind, bool bit, int count, bool idle)
{
    for (int i = 0; i < count; ++i)
        m_queue.push_back({kind, bit, idle});
    if (!idle)
        m_queuedDataSamples += int64_t{count} * m_submode.symbolSamples;
}

bool PskTransmitter::QueueChar(char32_t ch)
{
    const std::optional<VaricodeBits> code = VaricodeOf(ch);
    if (!code)
        return false;
    const int symbols = m_preambleOwed + code->length + 2;
    if (m_queuedDataSamples + int64_t{symbols} * m_submode.symbolSamples > kMaxQueuedSamples)
        return false;
    // The preamble starts the over, or starts it again after a postamble.
    Queue(Kind::Bit, false, m_preambleOwed);
    m_preambleOwed = 0;
    m_closed = false;
    for (int i = code->length - 1; i >= 0; --i)
        Queue(Kind::Bit, ((code->bits >> i) & 1) != 0);
    Queue(Kind::Bit, false, 2);
    m_postambleOwed = true;
    return true;
}

void PskTransmitter::QueuePostamble()
{
    if (m_submode.qpsk)
        Queue(Kind::Bit, false, kQpskFlushSymbols);
    Queue(Kind::Carrier, false, m_submode.postambleSymbols);
    m_postambleOwed = false;
    m_closed = true;
    m_preambleOwed = m_submode.preambleSymbols;
}

int PskTransmitter::QuarterTurnsOf(const Symbol& symbol)
{
    if (symbol.kind == Kind::Carrier)
        return kSteady;
    if (!m_submode.qpsk)
        return BpskQuarterTurns(symbol.bit);
    return QuarterTurns(m_encoder.Encode(symbol.bit), m_lsb);
}

int PskTransmitter::RenderFront(int16_t* out, int room)
{
    const int length = m_submode.symbolSamples;
    if (m_offset == 0) {
        m_carrierHz = m_nextCarrierHz;
        m_from = m_to;
        m_to = m_from * std::pow(kQuarterTurn, QuarterTurnsOf(m_queue.front()));
        // Whole quarter turns: keep the phasor exact however long the over.
        m_to = {std::round(m_to.real()), std::round(m_to.imag())};
    }
    const double step = kTwoPi * m_carrierHz / kSampleRate;
    const int count = std::min(room, length - m_offset);
    for (int i = 0; i < count; ++i) {
        const double away = 0.5 - 0.5 * std::cos(std::numbers::pi * (m_offset + i) / length);
        const std::complex<double> envelope = m_from + (m_to - m_from) * away;
        out[i] = static_cast<int16_t>(std::lround(kAmplitude * std::real(envelope * std::polar(1.0, m_phase))));
        m_phase += step;
        if (m_phase >= kTwoPi)
            m_phase -= kTwoPi;
    }
    m_offset += count;
    if (!m_queue.front().idle)
        m_queuedDataSamples -= count;
    if (m_offset == length) {
        m_queue.pop_front();
        m_offset = 0;
    }
    return count;
}

int PskTransmitter::Render(int16_t* out, int capacity)
{
    int written = 0;
    while (written < capacity && !m_queue.empty())
        written += RenderFront(out + written, capacity - written);
    return written;
}

int PskTransmitter::RenderIdle(int16_t* out, int wanted)
{
    int written = 0;
    while (written < wanted) {
        if (m_queue.empty()) {
            if (m_postambleOwed) {
                QueuePostamble();
            } else if (m_closed) {
                Queue(Kind::Carrier, false, 1, true);
            } else {
                Queue(Kind::Bit, false, 1, true);
                m_preambleOwed = std::max(m_preambleOwed - 1, 0);
            }
        }
        written += RenderFront(out + written, wanted - written);
    }
    return written;
}

}  // namespace rz::psk
