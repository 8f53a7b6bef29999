#include "fsk_oscillator.h"

#include <cmath>
#include <numbers>

#include "rtty_timing.h"

namespace rz::rtty {

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;

}  // namespace

FskOscillator::FskOscillator(Tones tones)
    : m_markStep(kTwoPi * tones.markHz / kSampleRate), m_spaceStep(kTwoPi * tones.spaceHz / kSampleRate)
{}

void FskOscillator::Render(bool mark, int16_t* out, int count)
{
    const double step = mark ? m_markStep : m_spaceStep;
    for (int i = 0; i < count; ++i) {
        out[i] = static_cast<int16_t>(std::lround(kAmplitude * std::sin(m_phase)));
        m_phase += step;
        if (m_phase >= kTwoPi)
            m_phase -= kTwoPi;
    }
}

}  // namespace rz::rtty
