#include "SymbolSampler.h"

#include <cmath>
#include <numbers>

#include "Downconverter.h"

namespace rz::psk {

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr int kPulseLength = 2 * kSamplesPerSymbol;
// Finding the timing, the energy profile over a symbol averages over about ten
// symbols, and each symbol moves the sampling instant a fifth of the way to
// its peak.
constexpr double kProfileWeight = 0.1;
constexpr double kTimingGain = 0.2;
// Once the receiver holds a signal the timing only has to follow the sender's
// clock: fifty symbols of profile and a twentieth of the way each symbol keep
// the noise out of it.
constexpr double kSteadyProfileWeight = 0.02;
constexpr double kSteadyTimingGain = 0.05;
// Where the noise is measured, in symbol rates from the carrier.
constexpr int kNoiseBauds = 3;

std::vector<double> Pulse()
{
    std::vector<double> pulse(kPulseLength);
    double sum = 0.0;
    for (int i = 0; i < kPulseLength; ++i) {
        const double s = std::sin(std::numbers::pi * (i + 0.5) / kPulseLength);
        pulse[static_cast<size_t>(i)] = s * s;
        sum += s * s;
    }
    for (double& tap : pulse)
        tap /= sum;
    return pulse;
}

// Matched to that pulse, a symbol's output at the next instant is r of its own
// (r = 1/6): the zero-forcing inverse of 1 + r(z + 1/z), cut to five taps.
std::array<double, 5> Equaliser(const std::vector<double>& pulse)
{
    double own = 0.0;
    double neighbour = 0.0;
    for (size_t i = 0; i < pulse.size(); ++i) {
        own += pulse[i] * pulse[i];
        if (i + kSamplesPerSymbol < pulse.size())
            neighbour += pulse[i] * pulse[i + kSamplesPerSymbol];
    }
    const double b = 2.0 * neighbour / own;
    const double root = std::sqrt(1.0 - b * b);
    const double r = (1.0 - root) / b;
    return {r * r / root, -r / root, 1.0 / root, -r / root, r * r / root};
}

}  // namespace

SymbolSampler::SymbolSampler()
    : m_matched(Pulse()),
      m_below(Pulse()),
      m_above(Pulse()),
      m_equaliser(Equaliser(Pulse())),
      m_nextInstant(kSamplesPerSymbol)
{}

bool SymbolSampler::Push(Complex sample, SymbolSample& symbol)
{
    const Complex filtered = m_matched.Filter(sample);
    const Complex shift =
        std::polar(1.0, kTwoPi * kNoiseBauds * static_cast<double>(m_sample % kSamplesPerSymbol) / kSamplesPerSymbol);
    m_power += std::norm(filtered);
    m_noiseBelow += std::norm(m_below.Filter(sample * shift));
    m_noiseAbove += std::norm(m_above.Filter(sample * std::conj(shift)));
    ++m_powerSamples;
    const double at = static_cast<double>(++m_sample);
    const double sinceInstant = at - m_lastInstant;
    m_harmonic += std::norm(filtered) * std::polar(1.0, -kTwoPi * sinceInstant / kSamplesPerSymbol);
    const Complex previous = m_previous;
    m_previous = filtered;
    if (at < m_nextInstant)
        return false;
    // Linear between the two outputs around the instant: the filtered pulse is
    // smooth at 16 samples a symbol.
    const double fraction = m_nextInstant - (at - 1.0);
    const Complex sampled = previous + (filtered - previous) * fraction;
    UpdateTiming();
    for (int i = 0; i + 1 < kEqualiserTaps; ++i)
        m_symbols[static_cast<size_t>(i)] = m_symbols[static_cast<size_t>(i + 1)];
    m_symbols.back() = sampled;
    symbol.value = 0.0;
    for (int i = 0; i < kEqualiserTaps; ++i)
        symbol.value += m_equaliser[static_cast<size_t>(i)] * m_symbols[static_cast<size_t>(i)];
    // Over the whole symbol, not at the instant: on noise the timing settles
    // where the noise happens to be loudest.
    symbol.power = m_power / m_powerSamples;
    symbol.noiseBelow = m_noiseBelow / m_powerSamples;
    symbol.noiseAbove = m_noiseAbove / m_powerSamples;
    m_power = m_noiseBelow = m_noiseAbove = 0.0;
    m_powerSamples = 0;
    return true;
}

void SymbolSampler::UpdateTiming()
{
    // The energy of the filtered signal peaks at the symbol instants: the phase
    // of its first harmonic over a symbol says how far the peak lies from ours.
    const double weight = m_steady ? kSteadyProfileWeight : kProfileWeight;
    const double gain = m_steady ? kSteadyTimingGain : kTimingGain;
    m_profile += weight * (m_harmonic - m_profile);
    m_harmonic = 0.0;
    const double late = std::abs(m_profile) > 0.0 ? -std::arg(m_profile) * kSamplesPerSymbol / kTwoPi : 0.0;
    const double shift = gain * late;
    // The profile is kept against the new instants.
    m_profile *= std::polar(1.0, kTwoPi * shift / kSamplesPerSymbol);
    m_lastInstant = m_nextInstant;
    m_nextInstant += kSamplesPerSymbol + shift;
}

}  // namespace rz::psk
