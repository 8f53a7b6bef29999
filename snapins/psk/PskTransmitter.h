// Text to PSK audio. Each symbol moves the carrier from the previous phase to
// the next along a raised cosine, so that a reversal passes through zero
// amplitude and the signal stays as narrow as PSK31 is meant to be. An over is
// a preamble of reversals, the text (each character's Varicode and a "00" gap),
// and a postamble: for QPSK the code flushed with 0 bits, then steady carrier
// for everyone. Audio that does not fit the caller's buffer stays queued and
// comes first in the next call.
#ifndef PSK_TRANSMITTER_H
#define PSK_TRANSMITTER_H

#include <complex>
#include <cstdint>
#include <deque>

#include "PskSubmode.h"
#include "PskSymbols.h"

namespace rz::psk {

class PskTransmitter {
public:
    static constexpr double kAmplitude = 20000.0;
    // Characters beyond ten minutes of queued audio are refused.
    static constexpr int64_t kMaxQueuedSamples = int64_t{kSampleRate} * 600;

    PskTransmitter(const Submode& submode, double carrierHz, bool lsb);

    // Starts an over: the far receiver gets a full preamble before the next text.
    void BeginOver();
    // Takes effect from the next symbol on, the phase running on unbroken; the
    // next text gets a fresh preamble, for the far receiver to find the signal.
    void SetCarrier(double hz);
    void SetLsb(bool lsb) { m_lsb = lsb; }

    // Queues `ch`'s code and gap; false when Varicode cannot carry it or the
    // queue is full.
    bool QueueChar(char32_t ch);

    // Writes queued audio, at most `capacity` samples; returns the count.
    int Render(int16_t* out, int capacity);
    // Writes exactly `wanted` samples: queued audio, then the postamble when
    // text has gone out since the last one, then idle: reversals while the over
    // is open, steady carrier once its postamble has been sent.
    int RenderIdle(int16_t* out, int wanted);

    // True while text, its preamble or its postamble is still to be sent.
    bool HasData() const { return m_queuedDataSamples > 0 || m_postambleOwed; }
    // Symbols of 0 bits that flush the code before the postamble's carrier: the
    // far decoder needs this many to hand out the last character.
    static constexpr int kQpskFlushSymbols = 96;

private:
    enum class Kind : uint8_t { Bit, Carrier };
    struct Symbol {
        Kind kind;
        bool bit;
        bool idle;
    };

    void Queue(Kind kind, bool bit, int count = 1, bool idle = false);
    void QueuePostamble();
    // Renders the front symbol from m_offset on, at most `room` samples.
    int RenderFront(int16_t* out, int room);
    int QuarterTurnsOf(const Symbol& symbol);

    const Submode& m_submode;
    double m_carrierHz;
    double m_nextCarrierHz;
    bool m_lsb;
    ConvolutionalEncoder m_encoder;
    std::deque<Symbol> m_queue;
    int64_t m_queuedDataSamples = 0;  // unwritten samples of queued symbols other than idle
    int m_offset = 0;                 // samples of the front symbol already written
    std::complex<double> m_from{1.0, 0.0};
    std::complex<double> m_to{1.0, 0.0};
    double m_phase = 0.0;    // the carrier's, in radians
    int m_preambleOwed = 0;  // reversals the far receiver still needs before text
    bool m_postambleOwed = false;
    bool m_closed = false;  // the postamble has gone out: idle is steady carrier
};

}  // namespace rz::psk

#endif
