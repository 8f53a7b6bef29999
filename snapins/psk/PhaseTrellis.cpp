#include "PhaseTrellis.h"

#include <algorithm>

#include "PskSymbols.h"

namespace rz::psk {

namespace {

constexpr int kQuarterTurns = 4;
// Paths of the K=5 code merge within about ten constraint lengths; uncoded
// BPSK needs only a few symbols to settle a reversal.
constexpr int kCodedDelay = 48;
constexpr int kUncodedDelay = 4;

}  // namespace

PhaseTrellis::PhaseTrellis(bool coded, bool lsb)
    : m_coded(coded),
      m_phases(coded ? 4 : 2),
      m_states(m_phases * (coded ? static_cast<int>(kCodeStates) : 1)),
      m_delay(coded ? kCodedDelay : kUncodedDelay),
      m_metrics(static_cast<size_t>(m_states), 0.0),
      m_next(static_cast<size_t>(m_states)),
      m_choices(static_cast<size_t>(m_states * m_delay))
{
    Build(lsb);
}

// State = memory * phases + phase, the phase counted in quarter turns for
// QPSK and half turns for BPSK (whose carrier loop must settle on the real
// axis). Each state is reached from two others: for BPSK by a 1 bit (no turn)
// or a 0 bit (a reversal); for QPSK by either value of the bit that leaves the
// code's memory, the new bit being the memory's lowest.
void PhaseTrellis::Build(bool lsb)
{
    const int unit = kQuarterTurns / m_phases;
    m_branches.resize(static_cast<size_t>(2 * m_states));
    for (int state = 0; state < m_states; ++state) {
        const int memory = state / m_phases;
        const int phase = state % m_phases;
        for (int which = 0; which < 2; ++which) {
            Branch& branch = m_branches[static_cast<size_t>(2 * state + which)];
            unsigned lastFive = 0;
            int turns = 0;
            if (m_coded) {
                lastFive = (static_cast<unsigned>(which) << (kConstraintLength - 1)) | static_cast<unsigned>(memory);
                turns = QuarterTurns(CodeSymbol(lastFive), lsb);
                branch.bit = (memory & 1) != 0;
            } else {
                branch.bit = which == 1;
                turns = BpskQuarterTurns(branch.bit);
            }
            const int fromPhase = (phase - turns / unit + m_phases) % m_phases;
            branch.from = static_cast<uint16_t>(static_cast<int>(lastFive >> 1) * m_phases + fromPhase);
        }
    }
}

std::optional<bool> PhaseTrellis::Push(std::complex<double> symbol)
{
    // How well the symbol fits each carrier phase.
    const double fit[kQuarterTurns] = {symbol.real(), symbol.imag(), -symbol.real(), -symbol.imag()};
    const int unit = kQuarterTurns / m_phases;
    uint8_t* choices = &m_choices[static_cast<size_t>((m_step % m_delay) * m_states)];
    for (int state = 0; state < m_states; ++state) {
        const Branch* branch = &m_branches[static_cast<size_t>(2 * state)];
        const double first = m_metrics[branch[0].from];
        const double second = m_metrics[branch[1].from];
        const bool takeSecond = second > first;
        choices[state] = takeSecond ? 1 : 0;
        m_next[static_cast<size_t>(state)] = (takeSecond ? second : first) + fit[(state % m_phases) * unit];
    }
    const auto best = std::ranges::max_element(m_next);
    const double top = *best;
    m_best = static_cast<int>(best - m_next.begin());
    for (double& metric : m_next)
        metric -= top;
    m_metrics.swap(m_next);
    ++m_step;
    if (m_step < m_delay)
        return std::nullopt;
    // Back along the best path to the oldest step held.
    bool bit = false;
    int state = m_best;
    for (int back = 0; back < m_delay; ++back) {
        const Branch& branch = BranchTaken(back, state);
        bit = branch.bit;
        state = branch.from;
    }
    return bit;
}

const PhaseTrellis::Branch& PhaseTrellis::BranchTaken(int back, int state) const
{
    const int64_t step = m_step - 1 - back;
    const uint8_t choice = m_choices[static_cast<size_t>((step % m_delay) * m_states + state)];
    return m_branches[static_cast<size_t>(2 * state + choice)];
}

int PhaseTrellis::PhaseOnBestPath(int back) const
{
    int state = m_best;
    for (int i = 0; i < back && i < m_step; ++i)
        state = BranchTaken(i, state).from;
    return (state % m_phases) * (kQuarterTurns / m_phases);
}

}  // namespace rz::psk
