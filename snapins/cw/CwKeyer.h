// Text to keyed CW audio: each character becomes key-down and key-up stretches
// at the set speed, keyed on one continuous oscillator with raised-cosine edges
// so that the signal stays narrow. Audio that does not fit the caller's buffer
// stays queued and comes first in the next call.
#ifndef CW_KEYER_H
#define CW_KEYER_H

#include <cstdint>
#include <deque>
#include <vector>

#include "CwTiming.h"
#include "MorseCode.h"

namespace rz::cw {

class CwKeyer {
public:
    // Peak level of the tone, about -4 dB below full scale.
    static constexpr double kAmplitude = 20000.0;
    // Each edge rises or falls over 5 ms; the half-way point lies where the
    // element's time says, so the keyed lengths are exact.
    static constexpr int kEdgeSamples = kSampleRate / 200;
    // Characters beyond ten minutes of queued audio are refused.
    static constexpr int64_t kMaxQueuedSamples = int64_t{kSampleRate} * 600;

    CwKeyer(double carrierHz, int wpm, int farnsworthWpm);

    // Applies to audio rendered from now on.
    void SetCarrier(double hz);
    // Applies to characters queued from now on.
    void SetSpeed(int wpm, int farnsworthWpm);

    // Queues what `ch` completes (a character, a prosign, a word gap); false
    // when it queued nothing: Morse cannot carry it, it opens or continues a
    // prosign, or the queue is full.
    bool QueueChar(char32_t ch);

    // Writes queued audio, at most `capacity` samples; returns the count.
    int Render(int16_t* out, int capacity);
    // Writes exactly `wanted` samples: queued audio, then silence.
    int RenderIdle(int16_t* out, int wanted);

    // True while keyed audio is queued.
    bool HasData() const { return m_queuedSamples > 0; }

private:
    struct Segment {
        bool keyDown;
        int samples;
    };

    void Queue(bool keyDown, int samples);
    int RenderFront(int16_t* out, int room);

    MorseTextEncoder m_encoder;
    std::vector<MorseTextEncoder::Token> m_tokens;
    Spacing m_spacing;
    double m_step = 0.0;
    double m_phase = 0.0;
    std::deque<Segment> m_queue;
    int m_offset = 0;  // samples of the front segment already written
    int64_t m_queuedSamples = 0;
    bool m_keyDown = false;  // state of the last segment begun
    int m_sinceEdge = kEdgeSamples;
};

}  // namespace rz::cw

#endif
