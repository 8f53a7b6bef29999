#include "SequenceDecoder.h"

#include <algorithm>
#include <cmath>

namespace rz::cw {

namespace {

constexpr size_t kHistory = 1024;
constexpr double kImpossible = DurationModel::kImpossible;
// After a character: another character or a word.
const double kLogCharGap = std::log(0.8);
const double kLogWordGap = std::log(0.2);
// A character is decided at the latest this many dots after it ended ...
constexpr int kLagDots = 12;
// ... or as soon as every path that would still continue it is this much less
// likely (in nats) than the best one that has ended it.
constexpr double kDecisiveMargin = 6.0;
constexpr int kStepsPerDot = 4;
// No segment is weighed beyond this many steps; a longer gap is a pause.
constexpr int kLongestSegment = 255;

// log I0(x) for x >= 0 (Abramowitz and Stegun 9.8.1 and 9.8.2).
double LogBesselI0(double x)
{
    const double t = x / 3.75;
    if (t < 1.0) {
        const double t2 = t * t;
        return std::log(
            1.0 + t2 * (3.5156229 +
                        t2 * (3.0899424 + t2 * (1.2067492 + t2 * (0.2659732 + t2 * (0.0360768 + t2 * 0.0045813))))));
    }
    const double u = 1.0 / t;
    const double series =
        0.39894228 +
        u * (0.01328592 +
             u * (0.00225319 +
                  u * (-0.00157565 +
                       u * (0.00916281 + u * (-0.02057706 + u * (0.02635537 + u * (-0.01647633 + u * 0.00392377)))))));
    return x - 0.5 * std::log(x) + std::log(series);
}

}  // namespace

SequenceDecoder::SequenceDecoder()
    : m_trie(&TheMorseTrie()),
      m_nodes(m_trie->Nodes().size()),
      m_prefix(kHistory),
      m_cumulative(kHistory),
      m_amplitude(kHistory),
      m_noise(kHistory),
      m_open(kHistory),
      m_mark(kHistory * m_nodes),
      m_markSteps(kHistory * m_nodes),
      m_gap(kHistory * m_nodes),
      m_gapSteps(kHistory * m_nodes),
      m_rootGap(kHistory),
      m_end(kHistory),
      m_endNode(kHistory),
      m_pause(kHistory),
      m_pauseFrom(kHistory),
      m_markLikelihood(kLongestSegment + 1)
{
    SetTiming(StandardTimes(1.2 / 20.0 * kBasebandRate));
    Reset();
}

size_t SequenceDecoder::Slot(int64_t step) const { return static_cast<size_t>(step) % kHistory; }

double& SequenceDecoder::MarkScore(int64_t step, int node)
{
    return m_mark[Slot(step) * m_nodes + static_cast<size_t>(node)];
}

double& SequenceDecoder::GapScore(int64_t step, int node)
{
    return m_gap[Slot(step) * m_nodes + static_cast<size_t>(node)];
}

double SequenceDecoder::Score(const std::vector<double>& table, int64_t step, int node) const
{
    return table[Slot(step) * m_nodes + static_cast<size_t>(node)];
}

void SequenceDecoder::Reset()
{
    m_now = 0;
    m_decided = 0;
    m_lastCharEnd = 0;
    std::fill(m_mark.begin(), m_mark.end(), kImpossible);
    std::fill(m_gap.begin(), m_gap.end(), kImpossible);
    std::fill(m_end.begin(), m_end.end(), kImpossible);
    std::fill(m_pause.begin(), m_pause.end(), kImpossible);
    m_prefix[0] = Complex();
    m_cumulative[0] = 0;
    m_open[0] = 0;
    GapScore(0, MorseTrie::kRoot) = 0.0;
    m_rootGap[0] = RootGap::kStart;
    m_pause[0] = 0.0;
    m_pauseFrom[0] = -1;
}

void SequenceDecoder::SetTiming(const KeyingTimes& times)
{
    m_stepSamples = std::max(1, static_cast<int>(std::lround(times.dot / kStepsPerDot)));
    m_durations.Set(times, m_stepSamples);
    m_lagSteps = static_cast<int>(std::lround(kLagDots * times.dot / m_stepSamples));
}

void SequenceDecoder::SetDurations(const KeyingTimes& times)
{
    m_durations.Set(times, m_stepSamples);
    m_lagSteps = static_cast<int>(std::lround(kLagDots * times.dot / m_stepSamples));
}

double SequenceDecoder::Samples(int64_t from, int64_t to) const
{
    return static_cast<double>(m_cumulative[Slot(to)] - m_cumulative[Slot(from)]);
}

void SequenceDecoder::Push(const DecoderStep& step, std::vector<DecodedChar>& chars)
{
    const size_t previous = Slot(m_now);
    ++m_now;
    const size_t slot = Slot(m_now);
    m_prefix[slot] = m_prefix[previous] + step.sum;
    m_cumulative[slot] = m_cumulative[previous] + step.samples;
    m_amplitude[slot] = step.amplitude;
    m_noise[slot] = step.noise;
    m_open[slot] = step.open ? 1 : 0;
    Advance();

    bool charEnded = false;
    double margin = 0.0;
    const State best = BestNow(charEnded, margin);
    // A clear end of a character decides the path up to it; the gap after it is
    // decided once it has ended too.
    const int64_t ended = best.kind == Kind::kPause ? m_pauseFrom[Slot(m_now)] : best.step;
    const bool clear = charEnded && margin >= kDecisiveMargin;
    const int64_t through = clear ? std::max(ended, m_now - m_lagSteps) : m_now - m_lagSteps;
    if (through > m_decided)
        Decide(best, through, chars);
}

void SequenceDecoder::ComputeMarkLikelihoods()
{
    const int64_t t = m_now;
    const int longest = std::min<int64_t>(std::min(m_durations.MaxSteps(Duration::kDash), kLongestSegment), t);
    const double noise = m_noise[Slot(t)];
    for (int d = 1; d <= longest; ++d) {
        const double amplitude = m_amplitude[Slot(t - d / 2)];
        if (!(noise > 0.0) || !(amplitude > 0.0)) {
            m_markLikelihood[static_cast<size_t>(d)] = 0.0;
            continue;
        }
        const double magnitude = std::abs(m_prefix[Slot(t)] - m_prefix[Slot(t - d)]);
        m_markLikelihood[static_cast<size_t>(d)] =
            LogBesselI0(2.0 * amplitude * magnitude / noise) - amplitude * amplitude * Samples(t - d, t) / noise;
    }
}

void SequenceDecoder::Advance()
{
    const int64_t t = m_now;
    ComputeMarkLikelihoods();
    const auto& nodes = m_trie->Nodes();
    // Marks ending now, and characters ending with them.
    double bestEnd = kImpossible;
    int endNode = MorseTrie::kRoot;
    for (size_t c = 1; c < m_nodes; ++c) {
        const MorseTrie::Node& node = nodes[c];
        const Duration kind = node.element == kDash ? Duration::kDash : Duration::kDot;
        const int longest = std::min<int64_t>(std::min(m_durations.MaxSteps(kind), kLongestSegment), t);
        double best = kImpossible;
        int bestSteps = 0;
        for (int d = m_durations.MinSteps(kind); d <= longest; ++d) {
            const double score =
                GapScore(t - d, node.parent) + m_durations.LogPmf(kind, d) + m_markLikelihood[static_cast<size_t>(d)];
            if (score > best) {
                best = score;
                bestSteps = d;
            }
        }
        MarkScore(t, static_cast<int>(c)) = best + nodes[static_cast<size_t>(node.parent)].logNext[node.element];
        m_markSteps[Slot(t) * m_nodes + c] = static_cast<int16_t>(bestSteps);
        const double ended = MarkScore(t, static_cast<int>(c)) + node.logEnd;
        if (!node.text.empty() && ended > bestEnd) {
            bestEnd = ended;
            endNode = static_cast<int>(c);
        }
    }
    m_end[Slot(t)] = bestEnd;
    m_endNode[Slot(t)] = static_cast<int16_t>(endNode);

    // Gaps inside a character, ending now.
    const int longestElementGap = std::min<int64_t>(m_durations.MaxSteps(Duration::kElementGap), t);
    for (size_t n = 1; n < m_nodes; ++n) {
        double best = kImpossible;
        int bestSteps = 0;
        if (nodes[n].child[kDot] != MorseTrie::kNone || nodes[n].child[kDash] != MorseTrie::kNone) {
            for (int d = m_durations.MinSteps(Duration::kElementGap); d <= longestElementGap; ++d) {
                const double score =
                    MarkScore(t - d, static_cast<int>(n)) + m_durations.LogPmf(Duration::kElementGap, d);
                if (score > best) {
                    best = score;
                    bestSteps = d;
                }
            }
        }
        GapScore(t, static_cast<int>(n)) = best;
        m_gapSteps[Slot(t) * m_nodes + n] = static_cast<int16_t>(bestSteps);
    }

    // A word gap that has gone on into a pause.
    const int longestWordGap = std::min(m_durations.MaxSteps(Duration::kWordGap), kLongestSegment);
    m_pause[Slot(t)] = m_pause[Slot(t - 1)] + m_durations.LogPauseStep();
    m_pauseFrom[Slot(t)] = m_pauseFrom[Slot(t - 1)];
    if (const int64_t from = t - longestWordGap - 1; from >= 0) {
        const double start = m_end[Slot(from)] + kLogWordGap + m_durations.LogPauseStart();
        if (start > m_pause[Slot(t)]) {
            m_pause[Slot(t)] = start;
            m_pauseFrom[Slot(t)] = from;
        }
    }

    // Gaps before a new character, ending now.
    double best = m_pause[Slot(t)] + std::log1p(-std::exp(m_durations.LogPauseStep()));
    RootGap bestKind = RootGap::kPause;
    int bestSteps = 0;
    const auto weigh = [&](Duration kind, double logKind, RootGap gap) {
        const int longest = std::min<int64_t>(std::min(m_durations.MaxSteps(kind), kLongestSegment), t);
        for (int d = m_durations.MinSteps(kind); d <= longest; ++d) {
            const double score = m_end[Slot(t - d)] + logKind + m_durations.LogPmf(kind, d);
            if (score > best) {
                best = score;
                bestKind = gap;
                bestSteps = d;
            }
        }
    };
    weigh(Duration::kCharGap, kLogCharGap, RootGap::kChar);
    weigh(Duration::kWordGap, kLogWordGap, RootGap::kWord);
    GapScore(t, MorseTrie::kRoot) = best;
    m_rootGap[Slot(t)] = bestKind;
    m_gapSteps[Slot(t) * m_nodes] = static_cast<int16_t>(bestSteps);
}

SequenceDecoder::State SequenceDecoder::BestNow(bool& charEnded, double& margin)
{
    const int64_t t = m_now;
    const auto& nodes = m_trie->Nodes();
    double open = kImpossible;
    State openState{Kind::kPause, t, MorseTrie::kRoot};
    const auto consider = [](double score, State state, double& best, State& bestState) {
        if (score > best) {
            best = score;
            bestState = state;
        }
    };
    // A mark going on, or a gap inside a character: the character is not done.
    for (size_t c = 1; c < m_nodes; ++c) {
        const MorseTrie::Node& node = nodes[c];
        const Duration kind = node.element == kDash ? Duration::kDash : Duration::kDot;
        const int longest = std::min<int64_t>(std::min(m_durations.MaxSteps(kind), kLongestSegment), t);
        const double entry = nodes[static_cast<size_t>(node.parent)].logNext[node.element];
        for (int k = 1; k <= longest; ++k)
            consider(Score(m_gap, t - k, node.parent) + entry + m_durations.LogSurvival(kind, k) +
                         m_markLikelihood[static_cast<size_t>(k)],
                     State{Kind::kGap, t - k, node.parent}, open, openState);
    }
    const int longestElementGap = std::min<int64_t>(m_durations.MaxSteps(Duration::kElementGap), t);
    for (size_t n = 1; n < m_nodes; ++n) {
        const double goesOn = nodes[n].logGoesOn;
        if (!std::isfinite(goesOn))
            continue;
        for (int k = 1; k <= longestElementGap; ++k)
            consider(
                Score(m_mark, t - k, static_cast<int>(n)) + goesOn + m_durations.LogSurvival(Duration::kElementGap, k),
                State{Kind::kMark, t - k, static_cast<int>(n)}, open, openState);
    }
    // A gap after a character, or a pause: the character is done.
    double ended = m_pause[Slot(t)];
    State endedState{Kind::kPause, t, MorseTrie::kRoot};
    const int longestGap = std::min<int64_t>(std::min(m_durations.MaxSteps(Duration::kWordGap), kLongestSegment), t);
    for (int k = 1; k <= longestGap; ++k) {
        const double after = std::max(kLogCharGap + m_durations.LogSurvival(Duration::kCharGap, k),
                                      kLogWordGap + m_durations.LogSurvival(Duration::kWordGap, k));
        consider(m_end[Slot(t - k)] + after, State{Kind::kEnd, t - k, m_endNode[Slot(t - k)]}, ended, endedState);
    }
    charEnded = ended >= open;
    margin = ended - open;
    m_bestScore = std::max(ended, open);
    return charEnded ? endedState : openState;
}

void SequenceDecoder::Decide(State from, int64_t through, std::vector<DecodedChar>& chars)
{
    // Walk the path back to where it was decided before, noting the characters.
    m_found.clear();
    std::optional<size_t> unflagged;  // a character whose gap before it is still to come
    const int64_t oldest = m_now - static_cast<int64_t>(kHistory) + 2;
    State s = from;
    while (s.step >= oldest && (s.step > m_decided || unflagged)) {
        const size_t slot = Slot(s.step);
        if (s.kind == Kind::kEnd) {
            unflagged = m_found.size();
            m_found.push_back({s.step, m_endNode[slot]});
            s = State{Kind::kMark, s.step, m_endNode[slot]};
        } else if (s.kind == Kind::kMark) {
            const int d = m_markSteps[slot * m_nodes + static_cast<size_t>(s.node)];
            s = State{Kind::kGap, s.step - d, m_trie->At(s.node).parent};
        } else if (s.kind == Kind::kGap && s.node != MorseTrie::kRoot) {
            const int d = m_gapSteps[slot * m_nodes + static_cast<size_t>(s.node)];
            s = State{Kind::kMark, s.step - d, s.node};
        } else {
            // The gap before a character, or a pause going on now.
            const RootGap gap = s.kind == Kind::kPause ? RootGap::kPause : m_rootGap[slot];
            if (unflagged) {
                m_found[*unflagged].afterWordGap = gap == RootGap::kWord || gap == RootGap::kPause;
                m_found[*unflagged].charStart = s.step;
            }
            unflagged.reset();
            const int64_t start = gap == RootGap::kPause   ? m_pauseFrom[slot]
                                  : gap == RootGap::kStart ? -1
                                                           : s.step - m_gapSteps[slot * m_nodes];
            if (start < 0)
                break;
            s = State{Kind::kEnd, start, m_endNode[Slot(start)]};
        }
    }
    // Then forward, handing out what lies between the last decision and this one.
    // A character counts once: one that began before the last one handed out
    // ended is that one again, the path having moved it by a step or so.
    for (auto it = m_found.rbegin(); it != m_found.rend(); ++it) {
        if (it->step <= m_decided || it->step > through || it->charStart < m_lastCharEnd)
            continue;
        chars.push_back({m_trie->At(it->node).text, it->afterWordGap, m_open[Slot(it->step)] != 0});
        m_lastCharEnd = it->step;
    }
    m_decided = through;
}

}  // namespace rz::cw
