#include "FskOscillator.h"

#include <cmath>
#include <numbers>

#include "RttyTiming.h"

namespace rz::rtty {

void FskOscillator::Render(bool mark, double* out, int count)
{
    constexpr double kTwoPi = 2.0 * std::numbers::pi;
    const double step = kTwoPi * (mark ? m_tones.markHz : m_tones.spaceHz) / kSampleRate;
    for (int i = 0; i < count; ++i) {
        out[i] = std::sin(m_phase);
        m_phase += step;
        if (m_phase >= kTwoPi)
            m_phase -= kTwoPi;
    }
}

}  // namespace rz::rtty
