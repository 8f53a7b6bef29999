#include "rtty_framer.h"

#include <algorithm>
#include <cmath>

namespace rz::rtty {

namespace {

// Share of each character's timing error that goes into the learned rate.
constexpr double kRateLearning = 0.25;
// The learned rate, in samples per character, follows senders up to 0.6 % off.
constexpr double kMaxRate = 8.0;
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

// Sample index of the end of bit `bit` (0: start bit, 6: first stop bit).
constexpr int64_t BitEnd(int64_t start, int bit) { return start + int64_t{kSamplesPerBit} * (bit + 1) - 1; }

constexpr int kStopBit = kDataBits + 1;
// While tracking, a start or stop bit that reads wrong by less than this share
// of a clean bit's decision was flipped by noise; the character is taken as timed.
constexpr double kCoastShare = 0.5;
constexpr int kMaxCoasted = 2;
// A bit below this share of the character's strongest bit must hold a clear
// tone: its winning filter this many times the power of the other.
constexpr double kWeakestBitShare = 0.05;
constexpr double kClearToneRatio = 30.0;

}  // namespace

const ToneLevels& RttyFramer::LevelsAt(int64_t index) const
{
    static constexpr ToneLevels kBeforeStart{0.0f, 0.0f};
    return index < 0 ? kBeforeStart : m_levels[static_cast<size_t>(index % kHistory)];
}

double RttyFramer::Decision(int64_t index, double markLevel) const
{
    const ToneLevels& levels = LevelsAt(index);
    return levels.mark - m_spaceShare * levels.space - markLevel * (1.0 - m_spaceShare * m_spaceShare) / 2.0;
}

double RttyFramer::LearnedMarkLevel() const { return m_levelsKnown ? std::exp(m_logMark) : 0.0; }

double RttyFramer::FrameMarkLevel(int64_t start) const
{
    double sum = 0.0;
    for (int bit = 0; bit <= kStopBit; ++bit) {
        const ToneLevels& levels = LevelsAt(BitEnd(start, bit));
        sum += std::max(double{levels.mark}, levels.space / m_spaceShare);
    }
    return sum / (kStopBit + 1);
}

double RttyFramer::FrameFit(int64_t start) const
{
    const double level = LearnedMarkLevel();
    double fit =
        Decision(start - 1, level) - Decision(BitEnd(start, 0), level) + Decision(BitEnd(start, kStopBit), level);
    for (int bit = 1; bit <= kDataBits; ++bit)
        fit += std::abs(Decision(BitEnd(start, bit), level));
    return fit;
}

bool RttyFramer::FrameValid(int64_t start, double markLevel) const
{
    return Decision(start - 1, markLevel) > 0 && Decision(BitEnd(start, 0), markLevel) < 0 &&
           Decision(BitEnd(start, kStopBit), markLevel) > 0;
}

uint8_t RttyFramer::FrameCode(int64_t start, double markLevel) const
{
    uint8_t code = 0;
    for (int bit = 1; bit <= kDataBits; ++bit) {
        if (Decision(BitEnd(start, bit), markLevel) > 0)
            code |= static_cast<uint8_t>(1u << (bit - 1));
    }
    return code;
}

double RttyFramer::ToneContrast(int64_t from, int64_t to) const
{
    double sum = 0.0;
    int count = 0;
    for (int64_t i = std::max<int64_t>(from, 0); i < to; ++i) {
        const float contrast = m_contrast[static_cast<size_t>(i % kHistory)];
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

double RttyFramer::MeanWinnerPower(int64_t start) const
{
    double sum = 0.0;
    for (int bit = 0; bit <= kStopBit; ++bit)
        sum += WinnerPower(BitEnd(start, bit));
    return sum / (kStopBit + 1);
}

bool RttyFramer::SquelchOpen(int64_t start, bool follows) const
{
    const double needed = follows ? kSquelchHoldContrast : kSquelchContrast;
    const int64_t end = start + kCharSamples;
    // The filters remember a bit: the window after the start begins one bit on,
    // clear of what came before the character.
    const double after = ToneContrast(start + kSamplesPerBit, start + kSamplesPerBit + kSquelchWindow);
    if (ToneContrast(end - kSquelchWindow, end) < needed || after < needed)
        return false;
    // A character partly in noise, just before or after a transmission, passes
    // the windows above; its bits in noise stand far below those in the signal,
    // and unlike bits after a drop in level they hold no clear tone.
    double strongest = 0.0;
    for (int bit = 0; bit <= kStopBit; ++bit)
        strongest = std::max(strongest, WinnerPower(BitEnd(start, bit)));
    for (int bit = 0; bit <= kStopBit; ++bit) {
        const ToneLevels& levels = LevelsAt(BitEnd(start, bit));
        const double stronger = std::max(levels.mark, levels.space);
        const double weaker = std::min(levels.mark, levels.space);
        if (WinnerPower(BitEnd(start, bit)) < kWeakestBitShare * strongest &&
            stronger * stronger < kClearToneRatio * weaker * weaker)
            return false;
    }
    // Right after a strong signal the windows still hold some of it; a character
    // far weaker than the last one is noise, unless a signal clearly goes on.
    return after >= kClearContrast || MeanWinnerPower(start) >= kFadeShare * m_lastWinnerPower;
}

bool RttyFramer::CanCoast(int64_t start, double markLevel) const
{
    if (!m_tracking || !m_levelsKnown || m_coasted >= kMaxCoasted)
        return false;
    // Half the distance between a clean mark and a clean space decision.
    const double limit = kCoastShare * markLevel * (1.0 + m_spaceShare * m_spaceShare) / 2.0;
    return Decision(BitEnd(start, 0), markLevel) < limit && Decision(BitEnd(start, kStopBit), markLevel) > -limit;
}

void RttyFramer::LearnLevels(int64_t start, double markLevel)
{
    for (int bit = 0; bit <= kStopBit; ++bit) {
        const ToneLevels& levels = LevelsAt(BitEnd(start, bit));
        const bool mark = Decision(BitEnd(start, bit), markLevel) > 0;
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

std::optional<uint8_t> RttyFramer::Frame()
{
    const int window = m_tracking ? kTrackWindow : kHuntWindow;
    int64_t best = m_center - window;
    double bestFit = FrameFit(best);
    for (int64_t start = best + 1; start <= m_center + window; ++start) {
        const double fit = FrameFit(start);
        if (fit > bestFit) {
            best = start;
            bestFit = fit;
        }
    }
    if (m_tracking) {
        // Half the timing error moves this character; a share of it teaches the
        // sender's rate, so that a clock a little off is followed without lag.
        const int64_t error = best - m_center;
        m_rate = std::clamp(m_rate + kRateLearning * static_cast<double>(error), -kMaxRate, kMaxRate);
        best = m_center + error / 2;
    } else {
        m_rate = 0.0;
    }

    const double level = FrameMarkLevel(best);
    const bool valid = FrameValid(best, level);
    const bool coasting = !valid && CanCoast(best, level);
    m_coasted = coasting ? m_coasted + 1 : 0;
    if (!valid && !coasting) {
        m_state = State::Hunting;
        m_sawMark = false;
        m_scan = m_tracking ? m_center - window : m_center + kSamplesPerBit / 2 + 1;
        m_tracking = false;
        m_passing = false;
        return std::nullopt;
    }

    const bool follows = valid && m_tracking && m_passing;
    m_center = best + kCharSamples + std::lround(m_rate);
    m_tracking = true;
    m_passing = SquelchOpen(best, follows);
    if (!m_passing)
        return std::nullopt;
    const uint8_t code = FrameCode(best, level);
    if (valid)
        LearnLevels(best, level);
    m_lastPassed = best + kCharSamples;
    m_lastWinnerPower = MeanWinnerPower(best);
    return code;
}

std::optional<uint8_t> RttyFramer::Push(ToneLevels levels)
{
    ++m_newest;
    const auto slot = static_cast<size_t>(m_newest % kHistory);
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
                m_center = m_scan - kSamplesPerBit / 2;
                m_state = State::Framing;
                break;
            }
        }
    }
    if (m_state != State::Framing)
        return std::nullopt;
    const int window = m_tracking ? kTrackWindow : kHuntWindow;
    if (m_newest < m_center + window + kSamplesPerBit + kSquelchWindow)
        return std::nullopt;
    return Frame();
}

bool RttyFramer::CarrierPresent() const
{
    return m_lastPassed >= 0 && m_newest - m_lastPassed <= kCharSamples + kSquelchWindow;
}

}  // namespace rz::rtty
