#include "rtty_receiver.h"

namespace rz::rtty {

RttyReceiver::RttyReceiver(Tones tones) : m_demodulator(tones) {}

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
