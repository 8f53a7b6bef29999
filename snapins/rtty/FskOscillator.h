// A two-tone oscillator whose phase runs on across tone changes and across
// calls, so keyed audio has no steps and one call's output joins the next.
#ifndef RTTY_FSK_OSCILLATOR_H
#define RTTY_FSK_OSCILLATOR_H

#include "RttyTones.h"

namespace rz::rtty {

class FskOscillator {
public:
    explicit FskOscillator(Tones tones) : m_tones(tones) {}

    // Writes `count` samples of the mark or the space tone, of amplitude 1.
    void Render(bool mark, double* out, int count);

    // New tones from the next sample on, the phase running on.
    void SetTones(Tones tones) { m_tones = tones; }

private:
    Tones m_tones;
    double m_phase = 0.0;
};

}  // namespace rz::rtty

#endif
