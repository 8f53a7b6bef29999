// Character timing of the RTTY receiver. Works on the matched-filter levels of
// each sample, kept for a few characters so that every decision can look both
// back and ahead:
// - decision: at the end of each bit the two filters are compared with an
//   automatic threshold, which weighs each tone by its learned level, so that a
//   tone faded far below the other still reads (on-off keying of the stronger
//   tone in the limit); with equal tones it is the plain comparison;
// - hunting: after mark, the first sample where space wins marks a possible start
//   bit; the start is the time around it that best fits a whole character (mark
//   before, space start bit, clear data bits, mark stop bit);
// - tracking: each following character is expected one character time later
//   (the sender's rate learned) and only a small timing error is searched; a
//   start or stop bit that reads wrong, but weakly, is taken for noise;
// - squelch: a character counts only when, over four characters' time before its
//   end and after its start, one tone stands clearly above the other; noise
//   keeps the two level. Characters half in noise at the edges of a
//   transmission, and noise right after a strong signal, are told apart by
//   their bits' power.
#ifndef RTTY_FRAMER_H
#define RTTY_FRAMER_H

#include <array>
#include <cstdint>
#include <optional>

#include "fsk_demodulator.h"
#include "rtty_timing.h"

namespace rz::rtty {

class RttyFramer {
public:
    // The squelch looks this far before a character's end and after its start.
    static constexpr int kSquelchWindow = 4 * kCharSamples;
    // Over both windows the mean log ratio of the stronger tone's power to the
    // weaker one's must reach this; noise keeps it near 1.4 (2 ln 2). A character
    // right after one that passed needs less.
    static constexpr double kSquelchContrast = 1.7;
    static constexpr double kSquelchHoldContrast = 1.6;
    static constexpr int kHuntWindow = kSamplesPerBit / 2;
    static constexpr int kTrackWindow = kSamplesPerBit / 16;
    // The longest wait, in samples, from the end of a character to its decision.
    static constexpr int kMaxDecisionDelay = kSamplesPerBit + kSquelchWindow - kCharSamples + 2 * kHuntWindow;

    // Adds one sample's levels; returns the code of a character completed by it.
    std::optional<uint8_t> Push(ToneLevels levels);

    // A character passed the squelch within the last squelch window.
    bool CarrierPresent() const;

private:
    static constexpr int kHistory = 16384;

    enum class State { Hunting, Framing };

    const ToneLevels& LevelsAt(int64_t index) const;
    // Positive for mark. With the mark tone's amplitude a and the space tone's
    // b, mark is the likelier when a·mark − b·space > (a² − b²)/2; divided by a,
    // that needs only the learned ratio b/a and the mark level.
    double Decision(int64_t index, double markLevel) const;
    double LearnedMarkLevel() const;
    // The mark level that a character's own bits show.
    double FrameMarkLevel(int64_t start) const;
    double FrameFit(int64_t start) const;
    bool FrameValid(int64_t start, double markLevel) const;
    bool CanCoast(int64_t start, double markLevel) const;
    uint8_t FrameCode(int64_t start, double markLevel) const;
    // The stronger filter's power, the space filter's scaled to the mark level.
    double WinnerPower(int64_t index) const;
    bool SquelchOpen(int64_t start, bool follows) const;
    double ToneContrast(int64_t from, int64_t to) const;
    double MeanWinnerPower(int64_t start) const;
    void LearnLevels(int64_t start, double markLevel);
    std::optional<uint8_t> Frame();

    std::array<ToneLevels, kHistory> m_levels{};
    std::array<float, kHistory> m_contrast{};  // log of stronger over weaker tone power
    int64_t m_newest = -1;

    State m_state = State::Hunting;
    int64_t m_scan = 0;      // hunting: next sample to look at
    bool m_sawMark = false;  // hunting: mark seen since the last candidate
    int64_t m_center = 0;    // framing: expected start of the character
    bool m_tracking = false;
    double m_rate = 0.0;     // tracking: how much longer than nominal the sender's characters are
    int m_coasted = 0;       // characters in a row taken despite a wrong start or stop bit
    bool m_passing = false;  // tracking: the character before passed the squelch

    // Automatic threshold: mean log levels of each tone when it won.
    bool m_levelsKnown = false;
    double m_logMark = 0.0;
    double m_logSpace = 0.0;
    double m_spaceShare = 1.0;  // space level over mark level

    int64_t m_lastPassed = -1;  // end of the last character that passed
    double m_lastWinnerPower = 0.0;
};

}  // namespace rz::rtty

#endif
