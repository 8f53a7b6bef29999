#include "fsk_demodulator.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace rz::rtty {

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
// Share of each bit's tuning error corrected: with a carrier it settles within
// a character; without one it searches slower and is pulled back to zero.
constexpr double kTrackingGain = 0.2;
constexpr double kSearchingGain = 0.05;
constexpr double kSearchingReturn = 0.005;

}  // namespace

std::complex<double> ToneFilter::Process(double sample, double frequencyHz)
{
    const std::complex<double> product = sample * std::polar(1.0, -m_phase);
    m_phase += kTwoPi * frequencyHz / kSampleRate;
    if (m_phase >= kTwoPi)
        m_phase -= kTwoPi;
    m_sum += product - m_products[m_next];
    m_products[m_next] = product;
    if (++m_next == kSamplesPerBit) {
        // Re-add from scratch once per bit so that rounding cannot build up.
        m_next = 0;
        m_sum = {};
        for (const auto& p : m_products)
            m_sum += p;
    }
    return m_sum;
}

FskDemodulator::FskDemodulator(Tones tones) : m_tones(tones) {}

ToneLevels FskDemodulator::Process(int16_t sample)
{
    const std::complex<double> mark = m_markFilter.Process(sample, m_tones.markHz + m_tuningHz);
    const std::complex<double> space = m_spaceFilter.Process(sample, m_tones.spaceHz + m_tuningHz);

    // A filter tuned off its tone turns at the difference frequency; the turn
    // over the lag, summed over both filters, is weighted by their power.
    m_drift += mark * std::conj(m_markHistory[m_historyNext]) + space * std::conj(m_spaceHistory[m_historyNext]);
    m_markHistory[m_historyNext] = mark;
    m_spaceHistory[m_historyNext] = space;
    m_historyNext = (m_historyNext + 1) % kTuningLag;
    if (++m_driftSamples == kSamplesPerBit)
        UpdateTuning();

    return {static_cast<float>(std::abs(mark)), static_cast<float>(std::abs(space))};
}

void FskDemodulator::UpdateTuning()
{
    if (std::norm(m_drift) > 0.0) {
        const double errorHz = std::arg(m_drift) * kSampleRate / (kTwoPi * kTuningLag);
        if (m_carrier) {
            m_tuningHz += kTrackingGain * errorHz;
        } else {
            m_tuningHz += kSearchingGain * errorHz;
            m_tuningHz -= kSearchingReturn * m_tuningHz;
        }
        m_tuningHz = std::clamp(m_tuningHz, -kMaxTuningHz, kMaxTuningHz);
    }
    m_drift = {};
    m_driftSamples = 0;
}

}  // namespace rz::rtty
