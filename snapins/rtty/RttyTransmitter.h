// Text to RTTY audio. Each Baudot code goes out as a start bit (space), five data
// bits and the stop (mark) on one continuous-phase oscillator, through the
// channel filter. Audio that does not fit the caller's buffer stays queued and
// comes first in the next call, so the signal is unbroken however the calls cut
// it. An over starts with a mark lead-in that fades in, and its text ends with a
// mark tail: the last stop bit whole, and time for the far end to take it.
#ifndef RTTY_TRANSMITTER_H
#define RTTY_TRANSMITTER_H

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "Baudot.h"
#include "FskOscillator.h"
#include "RttyTiming.h"
#include "RttyTones.h"
#include "TransmitFilter.h"

namespace rz::rtty {

class RttyTransmitter {
public:
    // Peak level of the tones, about -4 dB below full scale.
    static constexpr double kAmplitude = 20000.0;
    // Mark sent before the first character of an over, for the far receiver to
    // find the carrier and its tuning; it fades in over its first kFadeSamples.
    static constexpr int kLeadInSamples = 1320;
    static constexpr int kLeadInShifts = 2;
    // Mark sent after the last character (100 ms). Without idle to follow, it
    // fades out over kFadeSamples and ends with the channel filter's length of
    // silence, so that the audio ends at rest.
    static constexpr int kTailSamples = 800;
    static constexpr int kFadeSamples = 160;
    // Characters beyond ten minutes of queued audio are refused.
    static constexpr int64_t kMaxQueuedSamples = int64_t{8000} * 600;

    explicit RttyTransmitter(Tones tones, BitTiming timing = {});

    // Starts an over: queued idle is dropped and, unless characters are still
    // queued, a mark lead-in and two letters shifts go first.
    void BeginOver();

    // Queues `ch` with any shift it needs; false when Baudot cannot carry it or
    // the queue is full.
    bool QueueChar(char32_t ch);

    // Writes queued audio up to the tail, at most `capacity` samples; returns
    // the count. The tail waits: more text may follow at once.
    int Render(int16_t* out, int capacity);

    // With idle on, writes exactly `wanted` samples: queued audio and the tail,
    // then letters shifts, which keep the far receiver in step and in letters.
    // With idle off, writes only what is queued, the tail last: the audio ends.
    int RenderIdle(int16_t* out, int wanted);

    // True while audio other than idle is queued, the tail included.
    bool HasData() const { return m_queuedSymbols > 0; }
    // True when all that is queued is a tail not yet begun.
    bool OnlyTailQueued() const { return m_queue.size() == 1 && m_queue.front().kind == Kind::Tail && m_offset == 0; }

    // How far the audio lags the keying (the channel filter's delay).
    int Delay() const { return m_filter.Delay(); }

    // New tones at once; new timing from the next character on.
    void SetTones(Tones tones);
    void SetTiming(BitTiming timing) { m_nextTiming = timing; }
    void SetIdle(bool on) { m_idle = on; }

private:
    enum class Kind : uint8_t { LeadIn, Data, Tail, Idle };
    struct Symbol {
        Kind kind;
        uint8_t code;
    };
    // Where the bits of the symbol being written end, in samples from its start;
    // the last entry is its length.
    using Layout = std::array<int, kDataBits + 2>;

    void Queue(Kind kind, uint8_t code);
    void PopFront();
    Layout LayoutOf(const Symbol& symbol) const;
    static bool MarkAt(const Symbol& symbol, int bit);
    // The fade in or out at `offset` into the front symbol.
    double GainAt(const Symbol& symbol, int offset) const;
    // Keys `count` samples of one tone from m_offset on, through the filter.
    void Key(const Symbol& symbol, bool mark, int16_t* out, int count);
    // Renders the front symbol from m_offset on, at most `room` samples.
    int RenderFront(int16_t* out, int room);
    int RenderQueued(int16_t* out, int room, bool withTail);

    Tones m_tones;
    FskOscillator m_oscillator;
    TransmitFilter m_filter;
    BaudotEncoder m_encoder;
    BitTiming m_timing;
    std::optional<BitTiming> m_nextTiming;  // from the next symbol on
    bool m_idle = true;
    std::deque<Symbol> m_queue;
    std::vector<double> m_keyed;  // one run of the oscillator, before the filter
    int m_offset = 0;             // samples of the front symbol already written
    Layout m_layout{};            // of the front symbol, fixed when it starts
    double m_lateness = 0.0;      // how far the front symbol's exact start lies after its first sample
    int64_t m_queuedSymbols = 0;  // lead-in, data and tail symbols not fully written
    bool m_overEnded = false;     // a tail faded out: the next text starts a new over
};

}  // namespace rz::rtty

#endif
