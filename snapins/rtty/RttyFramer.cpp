#include "RttyFramer.h"

#include <algorithm>
#include <cmath>

namespace rz::rtty {

namespace {

// Share of each character's timing error that goes into the learned rate, and
// into the timing of the character itself.
constexpr double kRateLearning = 0.25;
constexpr double kTimingLearning = 0.5;
// Share of a decided bit's level that goes into its tone's learned level.
constexpr double kLevelLearning = 0.03;
// The threshold follows a tone imbalance up to this, in natural log (30 dB).
constexpr double kMaxLogImbalance = 3.45;
// Below this filter power the last bit's worth of samples were all zero. Only
// such digital silence is left out of the squelch: leaving out quiet samples
// would favour the loud moments of faint noise.
constexpr double kSilencePower = 0.25;
// Marks a silent sample, which the squelch leaves out.
constexpr float kSilent = -1.0f;
// The weaker filter counts as at least this share of the stronger one.
constexpr double kLeastWeakerShare = 1e-6;
// A character with less than this share of the last one's power has faded into
// noise, unless the signal after it shows this contrast, which noise never does.
constexpr double kFadeShare = 0.1;
constexpr double kClearContrast = 2.0;

constexpr int kStopBit = kDataBits + 1;
// While tracking, a start or stop bit that reads wrong by less than this share
// of a clean bit's decision was flipped by noise; the character is taken as timed.
constexpr double kCoastShare = 0.5;
constexpr int kMaxCoasted = 2;
// A bit below this share of the character's strongest bit must hold a clear
// tone: its winning filter this many times the power of the other.
constexpr double kWeakestBitShare = 0.05;
constexpr double kClearToneRatio = 30.0;

// Tone contrast of noise alone, and quality points per unit of contrast above it.
constexpr double kNoiseContrast = 1.4;
constexpr double kQualityPerContrast = 25.0;
// Tracking searches this share of a bit either side of the expected start.
constexpr double kTrackShare = 1.0 / 16;
// The squelch looks this many characters before a character's end and after its start.
constexpr double kSquelchChars = 4.0;

// Ring sizes are powers of two, so that an index wraps with a mask.
size_t HistoryLength(double samples)
{
    size_t length = 1;
    while (static_cast<double>(length) < samples)
        length <<= 1;
    return length;
}

}  // namespace

RttyFramer::RttyFramer(BitTiming timing)
    : m_charBits(timing.CharBits()),
      m_charNominal(timing.CharSamples()),
      m_filterLength(ToneFilterLength(timing.bitSamples)),
      m_huntWindow(static_cast<int>(std::lround(timing.bitSamples / 2))),
      m_trackWindow(std::max(2, static_cast<int>(std::lround(timing.bitSamples * kTrackShare)))),
      m_squelchWindow(static_cast<int>(std::lround(kSquelchChars * timing.CharSamples()))),
      m_maxRate(kMaxRateShare * timing.CharSamples())
{
    // Every decision looks back from the newest sample over at most two squelch
    // windows, a character and the search.
    const size_t length = HistoryLength(2.0 * m_squelchWindow + 2.0 * m_charNominal + 4.0 * m_huntWindow);
    m_levels.assign(length, ToneLevels{});
    m_contrast.assign(length, 0.0f);
    m_historyMask = length - 1;
}

int RttyFramer::MaxDecisionDelay() const
{
    return m_filterLength + m_squelchWindow - static_cast<int>(m_charNominal) + 2 * m_huntWindow +
           static_cast<int>(m_maxRate);
}

const ToneLevels& RttyFramer::LevelsAt(int64_t index) const
{
    static constexpr ToneLevels kBeforeStart{0.0f, 0.0f};
    return index < 0 ? kBeforeStart : m_levels[static_cast<size_t>(index) & m_historyMask];
}

int64_t RttyFramer::BitEnd(int64_t start, int bit, double bitLength) const
{
    // The filter is one nominal bit long; centred on the sender's bit.
    return start + std::lround((bit + 0.5) * bitLength + m_filterLength / 2.0) - 1;
}

double RttyFramer::Decision(int64_t index, double markLevel) const
{
    const ToneLevels& levels = LevelsAt(index);
    return levels.mark - m_spaceShare * levels.space - markLevel * (1.0 - m_spaceShare * m_spaceShare) / 2.0;
}

double RttyFramer::LearnedMarkLevel() const { return m_levelsKnown ? std::exp(m_logMark) : 0.0; }

double RttyFramer::FrameMarkLevel(int64_t start, double bitLength) const
{
    double sum = 0.0;
    for (int bit = 0; bit <= kStopBit; ++bit) {
        const ToneLevels& levels = LevelsAt(BitEnd(start, bit, bitLength));
        sum += std::max(double{levels.mark}, levels.space / m_spaceShare);
    }
    return sum / (kStopBit + 1);
}

double RttyFramer::FrameFit(int64_t start, double bitLength) const
{
    const double level = LearnedMarkLevel();
    double fit = Decision(start - 1, level) - Decision(BitEnd(start, 0, bitLength), level) +
                 Decision(BitEnd(start, kStopBit, bitLength), level);
    for (int bit = 1; bit <= kDataBits; ++bit)
        fit += std::abs(Decision(BitEnd(start, bit, bitLength), level));
    return fit;
}

bool RttyFramer::FrameValid(int64_t start, double bitLength, double markLevel) const
{
    return Decision(start - 1, markLevel) > 0 && Decision(BitEnd(start, 0, bitLength), markLevel) < 0 &&
           Decision(BitEnd(start, kStopBit, bitLength), markLevel) > 0;
}

uint8_t RttyFramer::FrameCode(int64_t start, double bitLength, double markLevel) const
{
    uint8_t code = 0;
    for (int bit = 1; bit <= kDataBits; ++bit) {
        if (Decision(BitEnd(start, bit, bitLength), markLevel) > 0)
            code |= static_cast<uint8_t>(1u << (bit - 1));
    }
    return code;
}

double RttyFramer::ToneContrast(int64_t from, int64_t to) const
{
    double sum = 0.0;
    int count = 0;
    for (int64_t i = std::max<int64_t>(from, 0); i < to; ++i) {
        const float contrast = m_contrast[static_cast<size_t>(i) & m_historyMask];
        if (contrast != kSilent) {
            sum += contrast;
            ++count;
        }
    }
    return count > 0 ? sum / count : 0.0;
}

double RttyFramer::WinnerPower(int64_t index) const
{
    const ToneLevels& levels = LevelsAt(index);
    const double winner = std::max(double{levels.mark}, levels.space / m_spaceShare);
    return winner * winner;
}

double RttyFramer::MeanWinnerPower(int64_t start, double bitLength) const
{
    double sum = 0.0;
    for (int bit = 0; bit <= kStopBit; ++bit)
        sum += WinnerPower(BitEnd(start, bit, bitLength));
    return sum / (kStopBit + 1);
}

int RttyFramer::QualityOf(double contrast)
{
    return static_cast<int>(std::lround(std::clamp((contrast - kNoiseContrast) * kQualityPerContrast, 0.0, 100.0)));
}

bool RttyFramer::SquelchOpen(int64_t start, double bitLength, bool follows) const
{
    const double needed = follows ? kSquelchHoldContrast : kSquelchContrast;
    const int64_t end = start + std::lround(bitLength * m_charBits);
    // The filters remember a bit: the window after the start begins one bit on,
    // clear of what came before the character.
    const int64_t afterStart = start + m_filterLength;
    const double after = ToneContrast(afterStart, afterStart + m_squelchWindow);
    const double before = ToneContrast(end - m_squelchWindow, end);
    if (before < needed || after < needed)
        return false;
    // A character partly in noise, just before or after a transmission, passes
    // the windows above; its bits in noise stand far below those in the signal,
    // and unlike bits after a drop in level they hold no clear tone. So does the
    // mark before it: a signal that starts on space (fldigi's does) after noise
    // is no start bit.
    double strongest = 0.0;
    for (int bit = 0; bit <= kStopBit; ++bit)
        strongest = std::max(strongest, WinnerPower(BitEnd(start, bit, bitLength)));
    for (int bit = -1; bit <= kStopBit; ++bit) {
        const int64_t at = bit < 0 ? start - 1 : BitEnd(start, bit, bitLength);
        const ToneLevels& levels = LevelsAt(at);
        const double stronger = std::max(levels.mark, levels.space);
        const double weaker = std::min(levels.mark, levels.space);
        // A bit in digital silence: the signal stopped inside the character.
        if (bit >= 0 && stronger * stronger < kSilencePower)
            return false;
        if (WinnerPower(at) < kWeakestBitShare * strongest && stronger * stronger < kClearToneRatio * weaker * weaker)
            return false;
    }
    // Right after a strong signal the windows still hold some of it; a character
    // far weaker than the last one is noise, unless a signal clearly goes on.
    return after >= kClearContrast || MeanWinnerPower(start, bitLength) >= kFadeShare * m_lastWinnerPower;
}

bool RttyFramer::CanCoast(int64_t start, double bitLength, double markLevel) const
{
    if (!m_tracking || !m_levelsKnown || m_coasted >= kMaxCoasted)
        return false;
    // Half the distance between a clean mark and a clean space decision.
    const double limit = kCoastShare * markLevel * (1.0 + m_spaceShare * m_spaceShare) / 2.0;
    return Decision(BitEnd(start, 0, bitLength), markLevel) < limit &&
           Decision(BitEnd(start, kStopBit, bitLength), markLevel) > -limit;
}

void RttyFramer::LearnLevels(int64_t start, double bitLength, double markLevel)
{
    for (int bit = 0; bit <= kStopBit; ++bit) {
        const int64_t at = BitEnd(start, bit, bitLength);
        const ToneLevels& levels = LevelsAt(at);
        const bool mark = Decision(at, markLevel) > 0;
        const double level = std::log(std::max(mark ? levels.mark : levels.space, 1e-3f));
        if (!m_levelsKnown) {
            m_logMark = m_logSpace = level;
            m_levelsKnown = true;
        }
        double& learned = mark ? m_logMark : m_logSpace;
        learned += kLevelLearning * (level - learned);
    }
    m_spaceShare = std::exp(std::clamp(m_logSpace - m_logMark, -kMaxLogImbalance, kMaxLogImbalance));
}

double RttyFramer::ImpliedBitLength(int64_t start) const
{
    return BitLength(std::clamp(static_cast<double>(start - m_lastStart) - m_charNominal, -m_maxRate, m_maxRate));
}

int RttyFramer::Window() const
{
    if (!m_tracking)
        return m_huntWindow;
    const int wide = m_trackWindow + static_cast<int>(std::ceil(m_maxRate));
    return m_rateKnown ? std::min(wide, m_trackWindow * (1 + m_edges)) : wide;
}

int64_t RttyFramer::BestStart(int window, bool measuring) const
{
    // While measuring, each candidate start implies its own bit length.
    const auto lengthFor = [&](int64_t start) {
        return measuring ? ImpliedBitLength(start) : BitLength(m_pendingRate.value_or(m_rate));
    };
    int64_t best = m_center - window;
    double bestFit = FrameFit(best, lengthFor(best));
    for (int64_t start = best + 1; start <= m_center + window; ++start) {
        const double fit = FrameFit(start, lengthFor(start));
        if (fit > bestFit) {
            best = start;
            bestFit = fit;
        }
    }
    return best;
}

bool RttyFramer::FitsAt(int64_t start, double bitLength) const
{
    return FrameValid(start, bitLength, FrameMarkLevel(start, bitLength));
}

std::optional<uint8_t> RttyFramer::Frame()
{
    const int window = Window();
    int64_t best = BestStart(window, false);
    // The rate that put this character where it was expected.
    const double expected = m_pendingRate.value_or(m_rate);
    double rate = expected;
    bool measured = false;
    const double error = static_cast<double>(best - m_center);
    const bool atEdge = std::abs(error) >= window;
    if (m_tracking && !m_rateKnown && (atEdge || !FitsAt(best, BitLength(expected)))) {
        // The first character after a hunt, searched across every rate the
        // sender may have, does not fit the last rate: each candidate start is
        // tried with the bit length it implies, and the start found gives the
        // rate, to be confirmed by the next character. Only then, as that
        // search is the more easily misled by noise.
        const int64_t wide = BestStart(m_trackWindow + static_cast<int>(std::ceil(m_maxRate)), true);
        if (FitsAt(wide, ImpliedBitLength(wide))) {
            best = wide;
            rate = std::clamp(static_cast<double>(best - m_lastStart) - m_charNominal, -m_maxRate, m_maxRate);
            measured = true;
        }
    }
    if (m_tracking && !measured) {
        // A share of the timing error moves this character, a share teaches the
        // sender's rate, so that a clock a little off is followed without lag.
        rate = std::clamp(expected + kRateLearning * error, -m_maxRate, m_maxRate);
        best = m_center + std::lround(kTimingLearning * error);
    }
    // A character at the edge of the search widens the next one's: the rate is
    // further off than the search reached.
    m_edges = m_tracking && atEdge && !measured ? m_edges + 1 : 0;
    const double bitLength = BitLength(rate);

    const double level = FrameMarkLevel(best, bitLength);
    const bool valid = FrameValid(best, bitLength, level);
    const bool coasting = !valid && CanCoast(best, bitLength, level);
    m_coasted = coasting ? m_coasted + 1 : 0;
    if (!valid && !coasting) {
        m_state = State::Hunting;
        m_sawMark = false;
        m_scan = m_tracking ? m_center - window : m_center + m_filterLength / 2 + 1;
        m_tracking = false;
        m_rateKnown = false;
        m_edges = 0;
        m_pendingRate.reset();
        m_passing = false;
        return std::nullopt;
    }

    const bool follows = valid && m_tracking && m_passing;
    m_passing = SquelchOpen(best, bitLength, follows);
    // Only a clear signal teaches the rate: noise would lead it astray. A
    // measured rate holds only once the next character is found close to where
    // it says.
    if (m_passing && valid && measured) {
        m_pendingRate = rate;
    } else if (m_passing && valid && m_tracking && (!m_pendingRate || std::abs(error) <= m_trackWindow / 2)) {
        m_rate = rate;
        m_rateKnown = true;
        m_pendingRate.reset();
    }
    m_tracking = true;
    m_lastStart = best;
    m_center = best + std::lround(BitLength(m_pendingRate.value_or(m_rate)) * m_charBits);
    if (!m_passing)
        return std::nullopt;
    const uint8_t code = FrameCode(best, bitLength, level);
    if (valid)
        LearnLevels(best, bitLength, level);
    m_lastPassed = best + std::lround(bitLength * m_charBits);
    m_lastWinnerPower = MeanWinnerPower(best, bitLength);
    if (m_squelch > 0 && QualityOf(ToneContrast(best, m_lastPassed)) < m_squelch)
        return std::nullopt;
    return code;
}

std::optional<uint8_t> RttyFramer::Push(ToneLevels levels)
{
    ++m_newest;
    const size_t slot = static_cast<size_t>(m_newest) & m_historyMask;
    m_levels[slot] = levels;
    const double mark = double{levels.mark} * levels.mark;
    const double space = double{levels.space} * levels.space;
    const double stronger = std::max(mark, space);
    const double weaker = std::max(std::min(mark, space), stronger * kLeastWeakerShare);
    m_contrast[slot] = stronger < kSilencePower ? kSilent : static_cast<float>(std::log(stronger / weaker));

    if (m_state == State::Hunting) {
        for (; m_scan <= m_newest; ++m_scan) {
            const double decision = Decision(m_scan, LearnedMarkLevel());
            if (decision > 0) {
                m_sawMark = true;
            } else if (m_sawMark && decision < 0) {
                // Space wins once the filter holds half a bit of it.
                m_center = m_scan - m_filterLength / 2;
                m_state = State::Framing;
                break;
            }
        }
    }
    if (m_state != State::Framing)
        return std::nullopt;
    if (m_newest < m_center + Window() + m_filterLength + m_squelchWindow)
        return std::nullopt;
    return Frame();
}

double RttyFramer::RecentContrast() const
{
    return ToneContrast(m_newest + 1 - static_cast<int64_t>(m_charNominal), m_newest + 1);
}

bool RttyFramer::CarrierPresent() const
{
    return m_lastPassed >= 0 && m_newest - m_lastPassed <= std::lround(m_charNominal) + m_squelchWindow;
}

}  // namespace rz::rtty
