#include "SignalGate.h"

#include <algorithm>

namespace rz::psk {

namespace {

// Room for the window and the decoder's delay behind it.
constexpr int kHistorySymbols = 1024;
// How well the symbols of a window must fit the trellis's phases (the mean
// cosine of their errors). Locked to a signal at -16 dB in 0-4 kHz the fit is
// about 0.89; following noise or a signal it has not caught, about 0.64 (BPSK)
// and 0.71 (QPSK, whose four phases fit anything better), rarely above 0.7 and
// 0.77 over a whole window.
constexpr double kBpskLeastFit = 0.75;
constexpr double kQpskLeastFit = 0.79;
// The better the ratio s, the better a PSK signal fits: it misses its phases
// by about 0.3 / s (one minus the mean cosine), and a clean one fits 0.91 or
// better at any level, while a keyed carrier (an RTTY tone on ours) fits 0.82
// at best however strong. Half a window of signal may miss by 8 / s, which
// leaves room for a channel's own faults, but must fit at least 0.88 where
// that asks for more.
constexpr double kMisfitPerRatio = 8.0;
constexpr double kStrongLeastFit = 0.88;
// Around a slip the symbols fit badly for a few symbols: the mean over nine
// must stay above this.
constexpr int kSlipReach = 4;
constexpr double kSlipLeastFit = 0.75;
// A PSK signal keeps its amplitude from symbol to symbol: the square of the
// mean amplitude over the mean power is near 1 where the noise is weak (0.95
// at -12 dB in 0-4 kHz), while noise stays below 0.8; a keyed carrier (an
// RTTY tone on ours) reaches 0.9, which the fit above shuts out.
constexpr double kEnvelopeRatio = 8.0;
constexpr double kLeastEnvelope = 0.85;
// Of all the audio's power, the least a signal in the channel has (-50 dB):
// noise alone puts -25 dB there, a signal 30 dB below a strong one elsewhere
// passes, and what leaks through the stopbands does not.
constexpr double kLeastShareOfInput = 1e-5;
// After a postamble the next text comes after a preamble of at least 32
// symbols: all but its last few are shut out, which the Varicode decoder needs
// to find its gap before the text.
constexpr int kShutAfterPostamble = 28;
// A symbol with less than this of the window's mean power (-18 dB) is not the signal's.
constexpr double kWeakestPower = 1.0 / 64.0;

double QualityOf(double ratio) { return std::clamp(ratio / (1.0 + ratio), 0.0, 1.0); }

}  // namespace

SignalGate::SignalGate(bool qpsk, int window)
    : m_leastFit(qpsk ? kQpskLeastFit : kBpskLeastFit),
      m_window(window),
      m_entries(kHistorySymbols + static_cast<size_t>(window))
{}

void SignalGate::Add(const SymbolSample& sample, std::complex<double> corrected, bool steady, bool settling)
{
    m_entries[Slot(m_count)] = {std::abs(corrected),
                                sample.power,
                                sample.noiseBelow,
                                sample.noiseAbove,
                                sample.inputPower,
                                0.0,
                                false,
                                settling};
    m_steadyRun = steady ? m_steadyRun + 1 : 0;
    if (m_steadyRun >= kPostambleRun) {
        const int64_t first = m_steadyRun == kPostambleRun ? m_count - kPostambleRun + 1 : m_count;
        for (int64_t i = first; i <= m_count; ++i)
            m_entries[Slot(i)].postamble = true;
    }
    ++m_count;
}

void SignalGate::Retuned()
{
    for (int64_t i = std::max<int64_t>(m_count - m_window / 2, 0); i < m_count; ++i)
        m_entries[Slot(i)].settling = true;
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
        totals.sum.amplitude += entry.amplitude;
        totals.squaredAmplitude += entry.amplitude * entry.amplitude;
        totals.sum.power += entry.power;
        totals.sum.noiseBelow += entry.noiseBelow;
        totals.sum.noiseAbove += entry.noiseAbove;
        totals.sum.inputPower += entry.inputPower;
        totals.sum.fit += entry.fit;
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

double SignalGate::Totals::MeanFit() const { return count > 0 ? sum.fit / count : 0.0; }

bool SignalGate::Totals::EvenEnvelope() const
{
    if (Ratio() < kEnvelopeRatio || !(squaredAmplitude > 0.0))
        return true;
    return sum.amplitude * sum.amplitude >= kLeastEnvelope * squaredAmplitude * count;
}

bool SignalGate::Open(int64_t index, double threshold) const
{
    if (threshold <= 0.0)
        return true;
    const Entry& entry = m_entries[Slot(index)];
    if (entry.settling)
        return false;
    const int half = m_window / 2;
    for (int64_t i = std::max<int64_t>(index - kShutAfterPostamble, 0); i <= index; ++i)
        if (m_entries[Slot(i)].postamble)
            return false;
    const Totals before = Sum(index - half, index);
    const Totals after = Sum(index, index + half);
    if (QualityOf(before.Ratio()) < threshold || QualityOf(after.Ratio()) < threshold)
        return false;
    const Totals all = Sum(index - half, index + half);
    // The half window that lies wholly within the signal shows how clean it is.
    const double cleanFit = std::min(kStrongLeastFit, 1.0 - kMisfitPerRatio / all.Ratio());
    return entry.power > kWeakestPower * all.sum.power / all.count && all.sum.fit >= m_leastFit * all.count &&
           std::max(before.MeanFit(), after.MeanFit()) >= cleanFit &&
           Sum(index - kSlipReach, index + kSlipReach).sum.fit >= kSlipLeastFit * (2 * kSlipReach + 1) &&
           all.EvenEnvelope();
}

double SignalGate::Quality() const { return RecentQuality(m_window); }

double SignalGate::RecentQuality(int symbols) const { return QualityOf(Sum(m_count - symbols, m_count - 1).Ratio()); }

}  // namespace rz::psk
