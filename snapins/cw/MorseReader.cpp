#include "MorseReader.h"

#include <algorithm>
#include <cmath>

#include "Baseband.h"
#include "MorseCode.h"

namespace rz::cw {

namespace {

// Dots from 60 WPM down to 4 WPM, in baseband samples.
constexpr double kMinDot = MorseReader::kShortestDot;
constexpr double kMaxDot = 1.2 / 4.0 * kBasebandRate;
constexpr double kDotDashRatio = 2.0;
constexpr double kLongestDash = 4.5 * kMaxDot;
constexpr double kCharWordRatio = 1.6;
constexpr double kDebounceDots = 0.3;
constexpr double kFirstFilterScale = 0.4;
// A gap shorter than the filter by more than half never shows: the filter is
// kept below the shortest element, dot or gap, that the sender makes.
constexpr double kFullFilterScale = 0.8;
// In deep noise the filter spans the whole shortest element, which gains a
// dB over 0.8 of it, and a change must last half the filter: a hand's short
// gaps may merge, but the noise no longer cuts dashes into dots.
constexpr double kDeepFilterScale = 1.0 / kFullFilterScale;
constexpr double kDeepDebounce = 0.5;
// Gaps shorter than two dots lie between the elements of a character.
constexpr double kGapBetweenDots = 2.0;
constexpr double kFilterStep = 0.125;
// Marks and gaps shorter than this share of the sender's are noise's flickers.
constexpr double kFlicker = 0.5;

double Between(double value, double low, double high) { return std::clamp(value, low, std::max(low, high)); }

}  // namespace

MorseReader::MorseReader(double wpm) { Restart(1.2 / wpm * kBasebandRate); }

void MorseReader::Restart(double dotSamples)
{
    m_dot = std::clamp(dotSamples, kMinDot, kMaxDot);
    m_dash = 3.0 * m_dot;
    m_elementGap = m_dot;
    m_charGap = 3.0 * m_dot;
    m_wordGap = 7.0 * m_dot;
    m_marks.Clear();
    m_elementGaps.Clear();
    m_longGaps.Clear();
    m_filterScale = kFirstFilterScale;
    m_settled = false;
    m_early.clear();
}

double MorseReader::Wpm() const { return 4.0 * kBasebandRate * 1.2 / (m_dot + m_dash); }

double MorseReader::ShortestElement() const { return std::min(m_dot, m_elementGap); }

// Only once the timing is known: until then the short filter shows a sender much faster than expected.
bool MorseReader::DeepFilter() const { return m_deepNoise; }

double MorseReader::FilterSamples() const
{
    return ShortestElement() * m_filterScale * (DeepFilter() ? kDeepFilterScale : 1.0);
}

int MorseReader::FilterLength() const { return std::max(2, static_cast<int>(std::lround(FilterSamples()))); }

int MorseReader::Debounce() const
{
    return std::max(2, static_cast<int>(std::lround(FilterSamples() * (DeepFilter() ? kDeepDebounce : kDebounceDots))));
}

double MorseReader::MarkThreshold() const { return std::sqrt(m_dot * m_dash); }

double MorseReader::CharThreshold() const { return std::sqrt(m_elementGap * m_charGap); }

double MorseReader::WordThreshold() const { return std::sqrt(m_charGap * m_wordGap); }

// Longer than any dash: a carrier, a tuning signal, another mode.
double MorseReader::LongestMark() const { return 2.0 * m_dash + m_dot; }

void MorseReader::LearnMarks()
{
    if (m_marks.Size() < 3)
        return;
    const double before = m_dot;
    if (const auto split = m_marks.Groups(kDotDashRatio, 3)) {
        m_dot = split->shortMedian;
        m_dash = split->longMedian;
    } else if (const double median = *m_marks.Median(); median < MarkThreshold()) {
        m_dot = median;
    } else {
        m_dash = median;
    }
    // Dashes stand out of noise better than dots, whose group takes in the
    // flickers that noise leaves: the dash bounds the dot.
    m_dash = std::clamp(m_dash, kDotDashRatio * kMinDot, 4.5 * kMaxDot);
    m_dot = Between(m_dot, std::max(kMinDot, m_dash / 4.5), std::min(kMaxDot, m_dash / kDotDashRatio));
    // A new speed: the gaps go with it until they are learned again.
    const double change = m_dot / before;
    if (change < 0.7 || change > 1.4) {
        m_elementGap *= change;
        m_charGap *= change;
        m_wordGap *= change;
        m_elementGaps.Clear();
        m_longGaps.Clear();
    }
}

void MorseReader::LearnGaps()
{
    if (const auto median = m_elementGaps.Median(); median && m_elementGaps.Size() >= 3)
        m_elementGap = *median;
    if (const auto split = m_longGaps.Groups(kCharWordRatio, 3)) {
        m_charGap = split->shortMedian;
        m_wordGap = split->longMedian;
    } else if (const auto median = m_longGaps.Median(); median && m_longGaps.Size() >= 3) {
        const bool nearerChar = std::abs(std::log(*median / m_charGap)) < std::abs(std::log(*median / m_wordGap));
        (nearerChar ? m_charGap : m_wordGap) = *median;
    }
    m_elementGap = Between(m_elementGap, 0.5 * m_dot, 1.5 * m_dot);
    m_charGap = Between(m_charGap, std::max(kGapBetweenDots * m_dot, 1.8 * m_elementGap), 20.0 * m_dot);
    m_wordGap = Between(m_wordGap, kCharWordRatio * m_charGap, 50.0 * m_dot);
}

void MorseReader::OnRun(bool keyDown, int samples)
{
    if (keyDown && !m_open) {
        // A mark heard while closed is noise: what came before it in the
        // character is noise too, and the signal's first mark starts afresh.
        m_charMarks.clear();
        m_charGaps.clear();
        m_spoilt = false;
        m_early.clear();
        return;
    }
    if (!m_settled && m_open)
        m_early.push_back({keyDown, samples});
    if (!keyDown) {
        LearnGap(samples);
        EndGap();
        return;
    }
    m_afterMark = true;
    // Until the timing is known every mark teaches it; then only those of characters read.
    if (!m_settled && samples <= kLongestDash) {
        m_marks.Add(samples);
        LearnMarks();
    }
    m_charMarks.push_back(samples);
    if (!m_settled && m_marks.Size() >= kMarksToSettle)
        Settle();
}

void MorseReader::LearnGap(int samples)
{
    // A pause longer than any word gap, or the silence before the first mark,
    // says nothing about the sender's timing.
    if (m_open && m_afterMark && samples < 2.5 * m_wordGap) {
        // Sorted by the dots, which the marks give reliably: a gap the reader
        // took for the wrong kind is not learned as that kind.
        if (samples >= kGapBetweenDots * m_dot)
            m_longGaps.Add(samples);
        else if (m_settled)
            m_charGaps.push_back(samples);
        else
            m_elementGaps.Add(samples);
        LearnGaps();
    }
    m_afterMark = false;
}

void MorseReader::EndGap()
{
    if (!m_charDone)
        return;
    m_charMarks.clear();
    m_charGaps.clear();
    m_spoilt = false;
    m_charDone = false;
    m_wordDone = false;
}

// The sender's timing is known now: the characters heard so far are read
// again with it, instead of with the speed that was expected.
void MorseReader::Settle()
{
    m_settled = true;
    m_charMarks.clear();
    m_charGaps.clear();
    m_spoilt = false;
    m_charDone = false;
    m_wordDone = false;
    for (const auto& [keyDown, samples] : m_early) {
        if (keyDown) {
            m_charMarks.push_back(samples);
            continue;
        }
        Gap(samples, m_settledText);
        EndGap();
    }
    m_early.clear();
}

void MorseReader::OnOngoing(bool keyDown, int samples, std::string& text)
{
    text += m_settledText;
    m_settledText.clear();
    if (keyDown) {
        if (samples > kLongestDash)
            m_spoilt = true;
        return;
    }
    Gap(samples, text);
}

void MorseReader::Gap(int samples, std::string& text)
{
    if (!m_charDone && samples > CharThreshold()) {
        m_charDone = true;
        FinishCharacter(text);
    }
    if (m_charDone && !m_wordDone && samples > WordThreshold()) {
        m_wordDone = true;
        m_spacePending = m_printedAny;
    }
}

void MorseReader::FinishCharacter(std::string& text)
{
    // Read with the timing learned meanwhile, which the character's own marks may have changed.
    std::string pattern;
    const double threshold = MarkThreshold();
    for (const int mark : m_charMarks) {
        pattern += mark > threshold ? '-' : '.';
        m_spoilt = m_spoilt || mark > LongestMark();
    }
    const std::string_view character =
        m_spoilt || pattern.size() > kMaxPatternLength ? std::string_view() : TextFor(pattern);
    if (character.empty() || !m_open || !m_settled)
        return;
    // A sender who really speeds up shows it to the scout, not through flickers.
    for (const int mark : m_charMarks) {
        if (mark <= kLongestDash && mark > kFlicker * m_dot)
            m_marks.Add(mark);
    }
    LearnMarks();
    for (const int gap : m_charGaps) {
        if (gap > kFlicker * m_elementGap)
            m_elementGaps.Add(gap);
    }
    LearnGaps();
    if (m_spacePending)
        text += ' ';
    text += character;
    m_spacePending = false;
    m_printedAny = true;
    m_filterScale = std::min(kFullFilterScale, m_filterScale + kFilterStep);
}

}  // namespace rz::cw
