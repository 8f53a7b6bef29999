// Symbol values to bits: a Viterbi decoder over the carrier's absolute phase
// (in quarter turns) and, for QPSK, the four bits of the code's memory. Because
// the phase is part of the state, the receiver's own phase reference may be
// off by any multiple of a quarter turn; because each branch is scored by the
// symbol's projection on its phase, QPSK is decoded from soft values.
#ifndef PSK_PHASE_TRELLIS_H
#define PSK_PHASE_TRELLIS_H

#include <complex>
#include <cstdint>
#include <optional>
#include <vector>

namespace rz::psk {

class PhaseTrellis {
public:
    explicit PhaseTrellis(bool coded, bool lsb = false);

    // Takes the next symbol value (its carrier phase corrected); once the path
    // memory has filled, the bit decided for the symbol Delay() - 1 steps back.
    std::optional<bool> Push(std::complex<double> symbol);
    int Delay() const { return m_delay; }
    // The carrier phase, in quarter turns, of the symbol `back` steps before the
    // last on the path that fits best so far (back < Delay()): the carrier loop's
    // reference, far surer than the nearest phase to each symbol alone.
    int PhaseOnBestPath(int back) const;

private:
    struct Branch {
        uint16_t from;
        bool bit;
    };

    void Build(bool lsb);
    // The branch into `state` at the step `back` steps before the last.
    const Branch& BranchTaken(int back, int state) const;

    bool m_coded;
    int m_phases;
    int m_states;
    int m_delay;
    std::vector<Branch> m_branches;  // two per state
    std::vector<double> m_metrics;
    std::vector<double> m_next;
    std::vector<uint8_t> m_choices;  // m_delay steps of one choice per state
    int64_t m_step = 0;
    int m_best = 0;  // the state that fits best after the last step
};

}  // namespace rz::psk

#endif
