// A two-tone oscillator whose phase runs on across tone changes and across
// calls, so keyed audio has no steps and one call's output joins the next.
#ifndef RTTY_FSK_OSCILLATOR_H
#define RTTY_FSK_OSCILLATOR_H

#include <cstdint>

#include "rtty_tones.h"

namespace rz::rtty {

class FskOscillator {
public:
    // Peak level of the generated sine, about -4 dB below full scale.
    static constexpr double kAmplitude = 20000.0;

    explicit FskOscillator(Tones tones);

    // Writes `count` samples of the mark or the space tone.
    void Render(bool mark, int16_t* out, int count);

private:
    double m_markStep;
    double m_spaceStep;
    double m_phase = 0.0;
};

}  // namespace rz::rtty

#endif
