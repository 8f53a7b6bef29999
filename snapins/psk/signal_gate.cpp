#include "signal_gate.h"

#include <algorithm>
#include <cmath>

namespace rz::psk {

namespace {

// Room for the window and the decoder's delay behind it.
constexpr int kHistorySymbols = 1024;
// The phases of a PSK signal line up at least this share of what its ratio promises.
constexpr double kAlignedShare = 0.5;
// Of all the audio's power, the least a signal in the channel has (-50 dB):
// noise alone puts -25 dB there, a signal 30 dB below a strong one elsewhere
// passes, and what leaks through the stopbands does not.
constexpr double kLeastShareOfInput = 1e-5;
// The symbols within this reach of one must fit the trellis's phases this
// well on average: about 0.9 locked at -16 dB, 0.6 to 0.7 following noise or
// slipping.
constexpr int kFitReach = 4;
constexpr double kLeastFit = 0.75;
// A PSK signal keeps its amplitude from symbol to symbol: the square of the
// mean amplitude over the mean power is near 1 where the noise is weak (0.95
// at -12 dB in 0-4 kHz), while a keyed carrier (an RTTY tone on ours) and
// noise stay below 0.8.
constexpr double kEnvelopeRatio = 8.0;
constexpr double kLeastEnvelope = 0.85;
// A symbol with less than this of the window's mean power (-18 dB) is not the signal's.
constexpr double kWeakestPower = 1.0 / 64.0;

double QualityOf(double ratio) { return std::clamp(ratio / (1.0 + ratio), 0.0, 1.0); }

}  // namespace

SignalGate::SignalGate(int phases, int window)
    : m_phases(phases), m_window(window), m_entries(kHistorySymbols + static_cast<size_t>(window))
{}

void SignalGate::Add(const SymbolSample& sample, std::complex<double> corrected, bool steady, bool settling)
{
    Entry& entry = m_entries[Slot(m_count)];
    const double amplitude = std::abs(corrected);
    entry.amplitude = amplitude;
    entry.aligned = amplitude > 0.0 ? std::pow(corrected / amplitude, m_phases) : 0.0;
    entry.power = sample.power;
    entry.noiseBelow = sample.noiseBelow;
    entry.noiseAbove = sample.noiseAbove;
    entry.inputPower = sample.inputPower;
    entry.fit = 0.0;
    entry.postamble = false;
    entry.settling = settling;
    m_steadyRun = steady ? m_steadyRun + 1 : 0;
    if (m_steadyRun >= kPostambleRun) {
        const int64_t first = m_steadyRun == kPostambleRun ? m_count - kPostambleRun + 1 : m_count;
        for (int64_t i = first; i <= m_count; ++i)
            m_entries[Slot(i)].postamble = true;
    }
    ++m_count;
}

void SignalGate::NoteFit(int64_t index, double fit)
{
    if (index >= 0 && index < m_count && index + static_cast<int64_t>(m_entries.size()) > m_count)
        m_entries[Slot(index)].fit = fit;
}

SignalGate::Totals SignalGate::Sum(int64_t first, int64_t last) const
{
    Totals totals;
    for (int64_t i = std::max<int64_t>(first, 0); i <= std::min(last, m_count - 1); ++i) {
        const Entry& entry = m_entries[Slot(i)];
        ++totals.count;
        totals.sum.aligned += entry.aligned;
        totals.sum.amplitude += entry.amplitude;
        totals.squaredAmplitude += entry.amplitude * entry.amplitude;
        totals.sum.power += entry.power;
        totals.sum.noiseBelow += entry.noiseBelow;
        totals.sum.noiseAbove += entry.noiseAbove;
        totals.sum.inputPower += entry.inputPower;
    }
    return totals;
}

// The quieter side: another signal may lie on the other.
double SignalGate::Totals::Ratio() const
{
    // A signal far outside the channel leaks in only by the filters'
    // stopbands, where no noise may be left to compare it with.
    if (!(sum.power > kLeastShareOfInput * sum.inputPower))
        return 0.0;
    const double noise = std::min(sum.noiseBelow, sum.noiseAbove);
    return noise > 0.0 ? sum.power / noise - 1.0 : 0.0;
}

bool SignalGate::Totals::LinedUp(int phases) const
{
    return sum.aligned.real() >= kAlignedShare * Alignment(phases, Ratio()) * count;
}

bool SignalGate::Totals::EvenEnvelope() const
{
    if (Ratio() < kEnvelopeRatio || !(squaredAmplitude > 0.0))
        return true;
    return sum.amplitude * sum.amplitude >= kLeastEnvelope * squaredAmplitude * count;
}

double SignalGate::Alignment(int phases, double ratio)
{
    // Noise at ratio s spreads the phases of the symbols, and the mean of
    // cos(n x) falls as exp(-k / s): k = 1.8 for n = 2 and 5.5 for n = 4,
    // measured on PSK31 and QPSK31 signals in white noise (the ratio is of the
    // filter's mean power, below its power at the symbol instants).
    if (ratio <= 0.0)
        return 0.0;
    return std::exp(-(phases == 2 ? 1.8 : 5.5) / ratio);
}

bool SignalGate::Open(int64_t index, double threshold) const
{
    if (threshold <= 0.0)
        return true;
    const int half = m_window / 2;
    if (m_entries[Slot(index)].settling)
        return false;
    double fit = 0.0;
    for (int64_t i = index - kFitReach; i <= index + kFitReach; ++i)
        fit += i >= 0 ? m_entries[Slot(i)].fit : 0.0;
    if (fit < kLeastFit * (2 * kFitReach + 1))
        return false;
    for (int64_t i = std::max<int64_t>(index - half, 0); i <= index; ++i)
        if (m_entries[Slot(i)].postamble)
            return false;
    if (QualityOf(Sum(index - half, index).Ratio()) < threshold ||
        QualityOf(Sum(index, index + half).Ratio()) < threshold)
        return false;
    const Totals all = Sum(index - half, index + half);
    if (m_entries[Slot(index)].power <= kWeakestPower * all.sum.power / (m_window + 1))
        return false;
    return all.LinedUp(m_phases) && all.EvenEnvelope();
}

double SignalGate::Quality() const { return QualityOf(Sum(m_count - m_window, m_count - 1).Ratio()); }

}  // namespace rz::psk
