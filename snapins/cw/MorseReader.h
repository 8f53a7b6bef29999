// Reads Morse from the key's runs: marks become dots or dashes, gaps end
// elements, characters or words, all measured against the sender's own timing
// as learned from the last few characters (dots, dashes and the three gaps
// each on their own, so weighting, a long dash or Farnsworth spacing are
// followed as they come).
#ifndef CW_MORSE_READER_H
#define CW_MORSE_READER_H

#include <string>
#include <utility>
#include <vector>

#include "Baseband.h"
#include "DurationGroups.h"

namespace rz::cw {

class MorseReader {
public:
    // The dot of 60 WPM, in baseband samples: no sender is faster.
    static constexpr double kShortestDot = 1.2 / 60.0 * kBasebandRate;

    // Durations are in baseband samples; `wpm` is the speed expected at first.
    explicit MorseReader(double wpm);

    // A run of the key that has just ended.
    void OnRun(bool keyDown, int samples);
    // The run going on, `samples` long so far: ends a character or a word in time.
    void OnOngoing(bool keyDown, int samples, std::string& text);

    // While closed, characters are read but not printed and timing is not learned.
    void SetOpen(bool open) { m_open = open; }
    // In deep noise the filter is longer and a change must last longer to count.
    void SetDeepNoise(bool deep) { m_deepNoise = deep; }
    bool DeepNoise() const { return m_deepNoise; }
    // Starts learning again from this dot length (another station's speed).
    void Restart(double dotSamples);

    double Dot() const { return m_dot; }
    // The timing has been learned from the sender's first marks.
    bool Settled() const { return m_settled; }
    // Speed from dots and dashes together, as a dot and a dash make four units.
    double Wpm() const;
    // The matched filter: 0.4 of the shortest element (dot or gap between
    // elements) at first, so that a sender up to 2.5 times faster still shows
    // its elements, 0.8 once characters read well (the whole element in deep
    // noise). The debounce is 0.3 of the filter (0.5 in deep noise).
    int FilterLength() const;
    int Debounce() const;

private:
    // Marks heard before the characters so far are read again with the timing learned.
    static constexpr size_t kMarksToSettle = 6;

    void LearnMarks();
    void LearnGap(int samples);
    void EndGap();
    void Gap(int samples, std::string& text);
    void Settle();
    void LearnGaps();
    void FinishCharacter(std::string& text);
    double ShortestElement() const;
    bool DeepFilter() const;
    double FilterSamples() const;
    double MarkThreshold() const;
    double CharThreshold() const;
    double WordThreshold() const;
    double LongestMark() const;

    double m_dot;
    double m_dash;
    double m_elementGap;
    double m_charGap;
    double m_wordGap;
    DurationGroups m_marks{12};
    DurationGroups m_elementGaps{12};
    DurationGroups m_longGaps{12};

    std::vector<int> m_charMarks;
    // Gaps between the elements of the character being read, learned once it reads.
    std::vector<int> m_charGaps;
    bool m_spoilt = false;
    bool m_afterMark = false;
    bool m_charDone = true;
    bool m_wordDone = true;
    bool m_spacePending = false;
    bool m_printedAny = false;
    bool m_open = true;
    bool m_deepNoise = false;
    double m_filterScale = 0.4;
    bool m_settled = false;
    std::vector<std::pair<bool, int>> m_early;
    std::string m_settledText;
};

}  // namespace rz::cw

#endif
