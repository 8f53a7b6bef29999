#include "PskReceiver.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "PskSymbols.h"

namespace rz::psk {

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
// The squelch's window, two seconds at 31.25 baud.
constexpr int kGateWindow = 64;
// The frequency search, eight times a second, rests while the carrier loop
// follows a signal, even through a short fade: it starts again 16 symbols
// after the loop lost it. A loop that follows steady carrier may hold one
// line of a preamble's pair: the search looks on after more steady symbols
// than any text has (a run of ten 1 bits).
constexpr int kUnlockedBeforeSearch = 16;
constexpr int kSteadyBeforeSearch = 12;
constexpr int kSearchesPerSecond = 8;
// Carrier loop bandwidths as a fraction of the symbol rate: wide while it
// pulls in a signal just found, narrow once it follows one.
constexpr double kPullInBandwidth = 0.05;
constexpr double kTrackBandwidth = 0.02;
constexpr int kPullInSymbols = 48;
// Symbols still mixed with the oscillator's old frequency when it jumps (the
// filters and the equaliser hold this many, the frequency loop one more), and
// the few after them in which the loop may still slip.
constexpr int kPipelineSymbols = 8;
constexpr int kSlippingSymbols = 8;
// The carrier loop moves only while the last 16 symbols hold a signal.
constexpr int kHeardSymbols = 16;
constexpr double kHeardQuality = 0.4;
// The frequency loop's gain at the start of the pull-in, falling to nothing by its end.
constexpr double kPullInFrequencyGain = 0.2;
// How well symbols fit the trellis's phases (the mean cosine of the error,
// over some 32 symbols). Following noise or nothing, a loop gets about 0.64
// (BPSK) or 0.72 (QPSK), rarely beyond 0.74 or 0.81; locked, about 0.89 at
// -16 dB in 0-4 kHz and 0.84 at -18 dB.
constexpr double kFitWeight = 1.0 / 32.0;
constexpr double kBpskLockedFit = 0.78;
constexpr double kQpskLockedFit = 0.82;
// Without frequency control the loop still follows a signal this far off, a
// fraction of the symbol rate.
constexpr double kFixedRangeBauds = 0.05;

struct LoopGains {
    double phase;
    double frequency;
};

// A second-order loop with damping 0.707 and noise bandwidth `bandwidth` (per symbol).
LoopGains Gains(double bandwidth)
{
    constexpr double kDamping = std::numbers::sqrt2 / 2.0;
    const double natural = bandwidth / (kDamping + 1.0 / (4.0 * kDamping));
    const double norm = 1.0 + 2.0 * kDamping * natural + natural * natural;
    return {4.0 * kDamping * natural / norm, 4.0 * natural * natural / norm};
}

}  // namespace

PskReceiver::PskReceiver(const Submode& submode, const ReceiverSettings& settings)
    : m_submode(submode),
      m_settings(settings),
      m_downconverter(submode.symbolSamples),
      m_search(submode.BaudRate(), submode.afcRangeHz),
      m_trellis(submode.qpsk, settings.lsb),
      m_gate(submode.qpsk, kGateWindow)
{
    m_downconverter.SetFrequency(m_settings.carrierHz);
}

void PskReceiver::SetCarrier(double hz)
{
    m_settings.carrierHz = hz;
    // What the search heard was somewhere else.
    m_search = CarrierSearch(m_submode.BaudRate(), m_submode.afcRangeHz);
    Retune(0.0);
}

void PskReceiver::SetLsb(bool lsb)
{
    m_settings.lsb = lsb;
    m_trellis = PhaseTrellis(m_submode.qpsk, lsb);
}

void PskReceiver::SetAfc(bool on)
{
    m_settings.afc = on;
    Retune(std::clamp(m_offsetHz, -RangeHz(), RangeHz()));
}

double PskReceiver::RangeHz() const
{
    return m_settings.afc ? m_submode.afcRangeHz : kFixedRangeBauds * m_submode.BaudRate();
}

void PskReceiver::Retune(double offsetHz)
{
    // The carrier loop gets time to catch the signal before the next search.
    m_unlockedSymbols = -kGateWindow;
    m_offsetHz = offsetHz;
    m_downconverter.SetFrequency(TrackedHz());
    m_gate.Retuned();
    m_phase = 0.0;
    m_settling = kPullInSymbols;
}

int PskReceiver::DecisionDelaySamples() const
{
    // The filters, the equaliser, the trellis and half the squelch window.
    const int symbols = 4 + m_trellis.Delay() + kGateWindow / 2 + 1;
    return symbols * m_submode.symbolSamples;
}

void PskReceiver::Process(const int16_t* samples, int count)
{
    const int samplesPerSecond = static_cast<int>(m_submode.BaudRate()) * kSamplesPerSymbol;
    for (int i = 0; i < count; ++i) {
        std::complex<double> baseband;
        if (!m_downconverter.Push(samples[i], baseband))
            continue;
        m_search.Push(baseband, m_offsetHz);
        SymbolSample symbol;
        if (m_sampler.Push(baseband, symbol)) {
            symbol.inputPower = m_downconverter.TakeInputPower();
            OnSymbol(symbol);
        }
        const bool searching = m_unlockedSymbols >= kUnlockedBeforeSearch ||
                               (m_unlockedSymbols >= 0 && m_gate.SteadyRun() >= kSteadyBeforeSearch);
        if (!m_settings.afc || !searching || --m_untilSearch > 0)
            continue;
        m_untilSearch = samplesPerSecond / kSearchesPerSecond;
        if (const std::optional<double> found = m_search.Find(m_offsetHz))
            Retune(*found);
    }
}

void PskReceiver::OnSymbol(const SymbolSample& sample)
{
    const std::complex<double> symbol = sample.value * std::polar(1.0, -m_phase);
    const int phases = m_submode.qpsk ? 4 : 2;
    // Steady when the phase held within an eighth (QPSK) or a quarter turn (BPSK).
    const bool steady = std::abs(symbol) > 0.0 && std::abs(m_previous) > 0.0 &&
                        std::abs(std::arg(symbol * std::conj(m_previous))) < std::numbers::pi / phases;
    m_previous = symbol;
    m_gate.Add(sample, symbol, steady, Settling());
    if (const std::optional<bool> bit = m_trellis.Push(symbol))
        m_pending.push_back({m_gate.Count() - m_trellis.Delay(), *bit});
    m_recent[static_cast<size_t>(m_gate.Count() % kLoopLag)] = symbol;
    FollowCarrier(symbol, sample.value);
    Release();
}

void PskReceiver::FollowCarrier(std::complex<double> symbol, std::complex<double> raw)
{
    const int phases = m_submode.qpsk ? 4 : 2;
    const bool filtersHoldOldTuning = m_settling > kPullInSymbols - kPipelineSymbols;
    if (m_settling > 0 && !filtersHoldOldTuning && std::abs(raw) > 0.0 && std::abs(m_previousRaw) > 0.0) {
        // While pulling in, a frequency loop as well: the turn from one symbol
        // to the next, the modulation stripped, is the offset left, however
        // far the phase has run.
        const double turn = std::arg(std::pow(raw * std::conj(m_previousRaw), phases)) / phases;
        const double gain = kPullInFrequencyGain * m_settling / kPullInSymbols;
        m_offsetHz += gain * turn * m_submode.BaudRate() / kTwoPi;
    }
    m_previousRaw = raw;
    m_settling = std::max(m_settling - 1, 0);

    // A symbol a few steps back against the phase the trellis has settled for
    // it by now: the loop's reference, and how well the symbols fit it says
    // whether the loop is locked.
    const std::complex<double> settled = m_recent[static_cast<size_t>((m_gate.Count() + 1) % kLoopLag)];
    if (std::abs(settled) == 0.0 || std::abs(symbol) == 0.0)
        return;
    const double settledError =
        std::arg(settled * std::polar(1.0, -m_trellis.PhaseOnBestPath(kLoopLag - 1) * std::numbers::pi / 2.0));
    m_fit += kFitWeight * (std::cos(settledError) - m_fit);
    m_gate.NoteFit(m_gate.Count() - kLoopLag, std::cos(settledError));
    // Without a signal the loop would follow the noise away: it waits.
    if (m_gate.RecentQuality(kHeardSymbols) < kHeardQuality) {
        m_unlockedSymbols = Locked() ? 0 : m_unlockedSymbols + 1;
        return;
    }
    // While pulling in a new frequency (the trellis is still lost then), the
    // newest symbol against its nearest phase, with no delay in the loop. The
    // loop is wide until it has locked.
    const double nearest = std::round(std::arg(symbol) * phases / kTwoPi) * kTwoPi / phases;
    const double error = std::sin(Settling() ? std::arg(symbol) - nearest : settledError);
    const LoopGains gains = Gains(Locked() ? kTrackBandwidth : kPullInBandwidth);
    m_phase = std::remainder(m_phase + gains.phase * error, kTwoPi);
    const double range = RangeHz();
    m_offsetHz = std::clamp(m_offsetHz + gains.frequency * error * m_submode.BaudRate() / kTwoPi, -range, range);
    m_downconverter.SetFrequency(TrackedHz());
    m_unlockedSymbols = Locked() ? 0 : m_unlockedSymbols + 1;
    m_sampler.SetSteady(Locked());
}

bool PskReceiver::Settling() const { return m_settling > kPullInSymbols - kPipelineSymbols - kSlippingSymbols; }

bool PskReceiver::Locked() const { return m_fit >= (m_submode.qpsk ? kQpskLockedFit : kBpskLockedFit); }

void PskReceiver::Release()
{
    while (!m_pending.empty() && m_gate.Decidable(m_pending.front().symbol)) {
        const PendingBit pending = m_pending.front();
        m_pending.pop_front();
        if (!m_gate.Open(pending.symbol, m_settings.squelch)) {
            m_varicode.Reset();
            continue;
        }
        if (const std::optional<char> ch = m_varicode.Push(pending.bit); ch && m_text.size() < kMaxHeldChars)
            m_text.push_back(*ch);
    }
}

int PskReceiver::TakeText(char32_t* out, int capacity)
{
    const int count = static_cast<int>(std::min<size_t>(m_text.size(), static_cast<size_t>(std::max(capacity, 0))));
    for (int i = 0; i < count; ++i)
        out[i] = static_cast<unsigned char>(m_text[static_cast<size_t>(i)]);
    m_text.erase(m_text.begin(), m_text.begin() + count);
    return count;
}

}  // namespace rz::psk
