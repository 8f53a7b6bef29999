#include "FskDemodulator.h"

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

std::complex<double> SlidingSum::Add(std::complex<double> value)
{
    m_sum += value - m_values[m_next];
    m_values[m_next] = value;
    if (++m_next == m_values.size()) {
        // Re-added from scratch once per round so that rounding cannot build up.
        m_next = 0;
        m_sum = {};
        for (const auto& v : m_values)
            m_sum += v;
    }
    return m_sum;
}

std::complex<double> ToneFilter::Process(double sample, double frequencyHz)
{
    m_phasor = std::polar(1.0, -m_phase);
    m_phase += kTwoPi * frequencyHz / kSampleRate;
    if (m_phase >= kTwoPi)
        m_phase -= kTwoPi;
    return m_sum.Add(sample * m_phasor);
}

FskDemodulator::FskDemodulator(Tones tones, double bitSamples)
    : m_tones(tones),
      m_bitLength(ToneFilterLength(bitSamples)),
      m_tuningLag(std::max(1, m_bitLength / 4)),
      m_markFilter(m_bitLength),
      m_spaceFilter(m_bitLength),
      m_leak(m_bitLength),
      m_markHistory(static_cast<size_t>(m_tuningLag)),
      m_spaceHistory(static_cast<size_t>(m_tuningLag))
{}

void FskDemodulator::SetTones(Tones tones)
{
    m_tones = tones;
    m_tuningHz = 0.0;
}

void FskDemodulator::SetAfc(bool on)
{
    m_afc = on;
    if (!on)
        m_tuningHz = 0.0;
}

ToneLevels FskDemodulator::Process(int16_t sample)
{
    const std::complex<double> markMixed = m_markFilter.Process(sample, m_tones.markHz + m_tuningHz);
    const std::complex<double> spaceMixed = m_spaceFilter.Process(sample, m_tones.spaceHz + m_tuningHz);
    // Mark leaks into the space filter by ρ, space into the mark filter by ρ*.
    const std::complex<double> rho =
        m_leak.Add(std::conj(m_markFilter.Phasor()) * m_spaceFilter.Phasor()) / static_cast<double>(m_bitLength);
    const double kept = 1.0 - std::norm(rho);
    const std::complex<double> mark = (markMixed - std::conj(rho) * spaceMixed) / kept;
    const std::complex<double> space = (spaceMixed - rho * markMixed) / kept;

    // A filter tuned off its tone turns at the difference frequency; the turn
    // over the lag, summed over both filters, is weighted by their power.
    m_drift += mark * std::conj(m_markHistory[m_historyNext]) + space * std::conj(m_spaceHistory[m_historyNext]);
    m_markHistory[m_historyNext] = mark;
    m_spaceHistory[m_historyNext] = space;
    if (++m_historyNext == m_markHistory.size())
        m_historyNext = 0;
    if (++m_driftSamples == m_bitLength)
        UpdateTuning();

    return {static_cast<float>(std::abs(mark)), static_cast<float>(std::abs(space))};
}

void FskDemodulator::UpdateTuning()
{
    if (m_afc && std::norm(m_drift) > 0.0) {
        const double errorHz = std::arg(m_drift) * kSampleRate / (kTwoPi * m_tuningLag);
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
