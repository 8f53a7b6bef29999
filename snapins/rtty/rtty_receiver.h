// RTTY audio to text: tone filters, character timing and the Baudot decoder in a
// row, keeping their state from one block of samples to the next. Decoded text
// waits until the caller takes it.
#ifndef RTTY_RECEIVER_H
#define RTTY_RECEIVER_H

#include <cstddef>
#include <cstdint>
#include <deque>

#include "baudot.h"
#include "fsk_demodulator.h"
#include "rtty_framer.h"
#include "rtty_tones.h"

namespace rz::rtty {

class RttyReceiver {
public:
    // Text not taken beyond this many characters is dropped, newest first.
    static constexpr size_t kMaxHeldChars = 4096;

    explicit RttyReceiver(Tones tones);

    void Process(const int16_t* samples, int count);

    // Moves up to `capacity` decoded characters to `out`; returns their number.
    int TakeText(char* out, int capacity);
    int TakeText(char32_t* out, int capacity);

    double TuningOffsetHz() const { return m_demodulator.TuningOffsetHz(); }

private:
    template <typename Char>
    int TakeTextAs(Char* out, int capacity);

    FskDemodulator m_demodulator;
    RttyFramer m_framer;
    BaudotDecoder m_decoder;
    std::deque<char> m_text;
};

}  // namespace rz::rtty

#endif
