#include "RttyReceiver.h"

namespace rz::rtty {

RttyReceiver::RttyReceiver(Tones tones, BitTiming timing, bool unshiftOnSpace)
    : m_tones(tones), m_demodulator(tones, timing.bitSamples), m_framer(timing), m_decoder(unshiftOnSpace)
{}

double RttyReceiver::TrackedCentreHz() const
{
    return (m_tones.markHz + m_tones.spaceHz) / 2.0 + m_demodulator.TuningOffsetHz();
}

void RttyReceiver::SetTones(Tones tones)
{
    m_tones = tones;
    m_demodulator.SetTones(tones);
}

void RttyReceiver::SetTiming(BitTiming timing)
{
    const int squelch = m_framer.Squelch();
    const bool afc = m_demodulator.Afc();
    m_demodulator = FskDemodulator(m_tones, timing.bitSamples);
    m_demodulator.SetAfc(afc);
    m_framer = RttyFramer(timing);
    m_framer.SetSquelch(squelch);
}

void RttyReceiver::Process(const int16_t* samples, int count)
{
    for (int i = 0; i < count; ++i) {
        const std::optional<uint8_t> code = m_framer.Push(m_demodulator.Process(samples[i]));
        m_demodulator.SetCarrier(m_framer.CarrierPresent());
        if (!code)
            continue;
        const char ch = m_decoder.Decode(*code);
        if (ch != 0 && m_text.size() < kMaxHeldChars)
            m_text.push_back(ch);
    }
}

template <typename Char>
int RttyReceiver::TakeTextAs(Char* out, int capacity)
{
    int taken = 0;
    while (taken < capacity && !m_text.empty()) {
        out[taken++] = static_cast<Char>(static_cast<unsigned char>(m_text.front()));
        m_text.pop_front();
    }
    return taken;
}

int RttyReceiver::TakeText(char* out, int capacity) { return TakeTextAs(out, capacity); }

int RttyReceiver::TakeText(char32_t* out, int capacity) { return TakeTextAs(out, capacity); }

}  // namespace rz::rtty
