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
//   and only a small timing error is searched. The sender's rate is learned, up
//   to 3 % off the set baud, and the bits of each character are read where that
//   rate puts them. The first character after a hunt is searched across the
//   whole range: its start fixes the rate. A start or stop bit that reads wrong,
//   but weakly, is taken for noise;
// - squelch: a character counts only when, over four characters' time before its
//   end and after its start, one tone stands clearly above the other; noise
//   keeps the two level. Characters half in noise at the edges of a
//   transmission, and noise right after a strong signal, are told apart by
//   their bits' power.
#ifndef RTTY_FRAMER_H
#define RTTY_FRAMER_H

#include <cstdint>
#include <optional>
#include <vector>

#include "FskDemodulator.h"
#include "RttyTiming.h"

namespace rz::rtty {

class RttyFramer {
public:
    // Over both squelch windows the mean log ratio of the stronger tone's power
    // to the weaker one's must reach this; noise keeps it near 1.4 (2 ln 2). A
    // character right after one that passed needs less.
    static constexpr double kSquelchContrast = 1.7;
    static constexpr double kSquelchHoldContrast = 1.6;
    // How far the sender's rate may be off the set one.
    static constexpr double kMaxRateShare = 0.03;

    explicit RttyFramer(BitTiming timing);

    // Adds one sample's levels; returns the code of a character completed by it.
    std::optional<uint8_t> Push(ToneLevels levels);

    // A character passed the squelch within the last squelch window.
    bool CarrierPresent() const;
    // Signal quality, 0 to 100, for a tone contrast: 0 is noise (1.4), and it
    // grows by about 3 for each dB of signal-to-noise ratio, to 100 at about +15 dB.
    static int QualityOf(double contrast);
    // Characters whose own quality is below `squelch` are not given out.
    void SetSquelch(int squelch) { m_squelch = squelch; }
    int Squelch() const { return m_squelch; }
    // Mean log ratio of the stronger tone's power to the weaker one's over the
    // last character's time (noise: about 1.4).
    double RecentContrast() const;
    // The longest wait, in samples, from the end of a character to its decision.
    int MaxDecisionDelay() const;
    // The sender's bit length as learned, in samples.
    double BitLength() const { return BitLength(m_rate); }

private:
    enum class State { Hunting, Framing };

    // The bit length of characters `rate` samples longer than nominal.
    double BitLength(double rate) const { return (m_charNominal + rate) / m_charBits; }
    const ToneLevels& LevelsAt(int64_t index) const;
    // Sample index at which bit `bit` (0: start bit, 6: first stop bit) of a
    // character starting at `start` is decided: its filter then covers it.
    int64_t BitEnd(int64_t start, int bit, double bitLength) const;
    // Positive for mark. With the mark tone's amplitude a and the space tone's
    // b, mark is the likelier when a·mark − b·space > (a² − b²)/2; divided by a,
    // that needs only the learned ratio b/a and the mark level.
    double Decision(int64_t index, double markLevel) const;
    double LearnedMarkLevel() const;
    // The mark level that a character's own bits show.
    double FrameMarkLevel(int64_t start, double bitLength) const;
    double FrameFit(int64_t start, double bitLength) const;
    bool FrameValid(int64_t start, double bitLength, double markLevel) const;
    // Valid with the level the character's own bits show.
    bool FitsAt(int64_t start, double bitLength) const;
    bool CanCoast(int64_t start, double bitLength, double markLevel) const;
    uint8_t FrameCode(int64_t start, double bitLength, double markLevel) const;
    // The stronger filter's power, the space filter's scaled to the mark level.
    double WinnerPower(int64_t index) const;
    bool SquelchOpen(int64_t start, double bitLength, bool follows) const;
    double ToneContrast(int64_t from, int64_t to) const;
    double MeanWinnerPower(int64_t start, double bitLength) const;
    void LearnLevels(int64_t start, double bitLength, double markLevel);
    // The bit length that a character found at `start` shows, when the one
    // before started at m_lastStart: only for the first tracked character.
    double ImpliedBitLength(int64_t start) const;
    // How far from m_center a character may be looked for.
    int Window() const;
    // The start that best fits a character within `window` of m_center.
    int64_t BestStart(int window, bool measuring) const;
    std::optional<uint8_t> Frame();

    // From the set timing.
    double m_charBits;
    double m_charNominal;
    int m_filterLength;
    int m_huntWindow;
    int m_trackWindow;
    int m_squelchWindow;
    double m_maxRate;

    std::vector<ToneLevels> m_levels;
    std::vector<float> m_contrast;  // log of stronger over weaker tone power
    size_t m_historyMask;
    int64_t m_newest = -1;

    State m_state = State::Hunting;
    int64_t m_scan = 0;      // hunting: next sample to look at
    bool m_sawMark = false;  // hunting: mark seen since the last candidate
    int64_t m_center = 0;    // framing: expected start of the character
    bool m_tracking = false;
    bool m_rateKnown = false;             // tracking: a character since the hunt was close to where the rate put it
    int m_edges = 0;                      // tracking: characters in a row found at the edge of the search
    std::optional<double> m_pendingRate;  // measured, awaiting the next character
    int64_t m_lastStart = 0;              // tracking: start of the character before
    double m_rate = 0.0;                  // how many samples longer than nominal the sender's characters are
    int m_coasted = 0;                    // characters in a row taken despite a wrong start or stop bit
    bool m_passing = false;               // tracking: the character before passed the squelch

    // Automatic threshold: mean log levels of each tone when it won.
    bool m_levelsKnown = false;
    double m_logMark = 0.0;
    double m_logSpace = 0.0;
    double m_spaceShare = 1.0;  // space level over mark level

    int m_squelch = 0;
    int64_t m_lastPassed = -1;  // end of the last character that passed
    double m_lastWinnerPower = 0.0;
};

}  // namespace rz::rtty

#endif
