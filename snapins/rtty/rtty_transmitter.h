// Text to RTTY audio. Each Baudot code goes out as a start bit (space), five data
// bits and 1.5 stop bits (mark) on one continuous-phase oscillator. Audio that
// does not fit the caller's buffer stays queued and comes first in the next call,
// so the signal is unbroken however the calls cut it.
#ifndef RTTY_TRANSMITTER_H
#define RTTY_TRANSMITTER_H

#include <cstdint>
#include <deque>

#include "baudot.h"
#include "fsk_oscillator.h"
#include "rtty_tones.h"

namespace rz::rtty {

class RttyTransmitter {
public:
    // Mark sent before the first character of an over, for the far receiver to
    // find the carrier and its tuning.
    static constexpr int kLeadInSamples = 1320;
    static constexpr int kLeadInShifts = 2;
    // Characters beyond ten minutes of queued audio are refused.
    static constexpr int64_t kMaxQueuedSamples = int64_t{8000} * 600;

    explicit RttyTransmitter(Tones tones);

    // Starts an over: queued idle is dropped and, unless characters are still
    // queued, a mark lead-in and two letters shifts go first.
    void BeginOver();

    // Queues `ch` with any shift it needs; false when Baudot cannot carry it or
    // the queue is full.
    bool QueueChar(char32_t ch);

    // Writes queued audio, at most `capacity` samples; returns the count.
    int Render(int16_t* out, int capacity);

    // Writes exactly `wanted` samples: queued audio, then letters shifts as idle,
    // which keep the far receiver in step and in letters.
    int RenderIdle(int16_t* out, int wanted);

    // True while audio other than idle is queued.
    bool HasData() const { return m_queuedDataSamples > 0; }

private:
    enum class Kind : uint8_t { LeadIn, Data, Idle };
    struct Symbol {
        Kind kind;
        uint8_t code;
    };

    static int SymbolSamples(const Symbol& symbol);
    void Queue(Kind kind, uint8_t code);
    // Renders the front symbol from m_offset on, at most `room` samples.
    int RenderFront(int16_t* out, int room);

    FskOscillator m_oscillator;
    BaudotEncoder m_encoder;
    std::deque<Symbol> m_queue;
    int m_offset = 0;                 // samples of the front symbol already written
    int64_t m_queuedDataSamples = 0;  // unwritten samples of lead-in and data symbols
};

}  // namespace rz::rtty

#endif
