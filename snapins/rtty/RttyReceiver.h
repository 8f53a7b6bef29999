// RTTY audio to text: tone filters, character timing and the Baudot decoder in a
// row, keeping their state from one block of samples to the next. Decoded text
// waits until the caller takes it.
#ifndef RTTY_RECEIVER_H
#define RTTY_RECEIVER_H

#include <cstddef>
#include <cstdint>
#include <deque>

#include "Baudot.h"
#include "FskDemodulator.h"
#include "RttyFramer.h"
#include "RttyTones.h"

namespace rz::rtty {

class RttyReceiver {
public:
    // Text not taken beyond this many characters is dropped, newest first.
    static constexpr size_t kMaxHeldChars = 4096;

    RttyReceiver(Tones tones, BitTiming timing, bool unshiftOnSpace = true);

    void Process(const int16_t* samples, int count);

    // Moves up to `capacity` decoded characters to `out`; returns their number.
    int TakeText(char* out, int capacity);
    int TakeText(char32_t* out, int capacity);

    // The centre between the tones that the receiver follows now.
    double TrackedCentreHz() const;
    // Signal quality over the last character's time: 0 noise, 100 clean.
    int Quality() const { return RttyFramer::QualityOf(m_framer.RecentContrast()); }
    int MaxDecisionDelay() const { return m_framer.MaxDecisionDelay(); }

    // New tones at once, the characters under way kept.
    void SetTones(Tones tones);
    // A new baud or stop length: the receiver starts afresh, keeping its text.
    void SetTiming(BitTiming timing);
    void SetAfc(bool on) { m_demodulator.SetAfc(on); }
    void SetUnshiftOnSpace(bool on) { m_decoder.SetUnshiftOnSpace(on); }
    // Characters whose quality is below `squelch` do not print; 0 prints all
    // that the receiver's own squelch lets through.
    void SetSquelch(int squelch) { m_framer.SetSquelch(squelch); }

private:
    template <typename Char>
    int TakeTextAs(Char* out, int capacity);

    Tones m_tones;
    FskDemodulator m_demodulator;
    RttyFramer m_framer;
    BaudotDecoder m_decoder;
    std::deque<char> m_text;
};

}  // namespace rz::rtty

#endif
