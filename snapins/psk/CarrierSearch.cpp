#include "CarrierSearch.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "Downconverter.h"

namespace rz::psk {

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr double kSpanSeconds = 1.0;
// The filtered band is 3.6 symbol rates wide: 4 samples a symbol hold it.
constexpr int kDecimation = kSamplesPerSymbol / 4;
// The grid: 1/128 of the symbol rate, a quarter of the spectrum's bin at 31.25 baud.
constexpr double kStepBauds = 1.0 / 128.0;
// A signal found must stand this far above the noise (noise alone reaches it
// about once in ten thousand searches) and well above what is found at the
// frequency followed now: beyond the sidelines of a preamble (a quarter of the
// line).
constexpr double kClearAboveNoise = 16.0;
constexpr double kClearAboveCurrent = 3.0;
// Only the band a signal in range can occupy, its main lobe one symbol rate
// either side: the less noise in the spectrum, the clearer the signal.
constexpr int kFilterLength = 4 * kSamplesPerSymbol + 1;

// The noise floor of scores that noise alone spreads exponentially, from their
// median, which a signal's few peaks do not move.
double NoiseFloor(std::vector<double> scores)
{
    const auto middle = scores.begin() + static_cast<long>(scores.size() / 2);
    std::nth_element(scores.begin(), middle, scores.end());
    return *middle / std::numbers::ln2;
}

}  // namespace

CarrierSearch::CarrierSearch(double baudRate, double rangeHz)
    : m_sampleRate(baudRate * kSamplesPerSymbol / kDecimation),
      m_baudRate(baudRate),
      m_stepHz(kStepBauds * baudRate),
      m_steps(static_cast<int>(std::ceil(rangeHz / m_stepHz))),
      m_filter(LowPass(kFilterLength, (1.0 + rangeHz / baudRate) / kSamplesPerSymbol))
{
    const auto length = static_cast<size_t>(std::lround(m_sampleRate * kSpanSeconds));
    m_history.resize(length);
    m_window.resize(length);
    for (size_t i = 0; i < length; ++i)
        m_window[i] = 0.5 - 0.5 * std::cos(kTwoPi * (static_cast<double>(i) + 0.5) / static_cast<double>(length));
}

void CarrierSearch::Push(std::complex<double> sample, double offsetHz)
{
    m_filter.Push(sample);
    m_oscillatorPhase = std::remainder(m_oscillatorPhase + kTwoPi * offsetHz / (m_sampleRate * kDecimation), kTwoPi);
    if (++m_phaseOfDecimation < kDecimation)
        return;
    m_phaseOfDecimation = 0;
    // Back to the set carrier: the signal stays put while the oscillator moves.
    m_history[m_next] = m_filter.Output() * std::polar(1.0, m_oscillatorPhase);
    m_next = (m_next + 1) % m_history.size();
    m_filled = std::min(m_filled + 1, m_history.size());
}

double CarrierSearch::LinePower(const Samples& windowed, double hz) const
{
    const std::complex<double> step = std::polar(1.0, -kTwoPi * hz / m_sampleRate);
    std::complex<double> turn = 1.0;
    std::complex<double> sum = 0.0;
    for (const std::complex<double>& value : windowed) {
        sum += value * turn;
        turn *= step;
    }
    return std::norm(sum);
}

CarrierSearch::Scan CarrierSearch::Reversals(const Samples& windowed, double currentHz) const
{
    // Twice the weaker of the two lines: noise scores as a single line, and a
    // lone carrier (which has one) scores nothing.
    const auto score = [&](double offsetHz) {
        return 2.0 * std::min(LinePower(windowed, offsetHz - m_baudRate / 2.0),
                              LinePower(windowed, offsetHz + m_baudRate / 2.0));
    };
    Scan scan{std::vector<double>(static_cast<size_t>(2 * m_steps + 1)), score(currentHz)};
    for (int i = 0; i <= 2 * m_steps; ++i)
        scan.scores[static_cast<size_t>(i)] = score(Offset(i));
    return scan;
}

CarrierSearch::Scan CarrierSearch::Squared(const Samples& windowed, double currentHz) const
{
    Samples squared(windowed.size());
    std::transform(windowed.begin(), windowed.end(), squared.begin(), [](std::complex<double> x) { return x * x; });
    Scan scan{std::vector<double>(static_cast<size_t>(2 * m_steps + 1)), LinePower(squared, 2.0 * currentHz)};
    for (int i = 0; i <= 2 * m_steps; ++i)
        scan.scores[static_cast<size_t>(i)] = LinePower(squared, 2.0 * Offset(i));
    return scan;
}

std::optional<double> CarrierSearch::Find(double currentHz) const
{
    if (m_filled < m_history.size() / 2)
        return std::nullopt;
    const size_t length = m_history.size();
    Samples windowed(length);
    for (size_t i = 0; i < length; ++i)
        windowed[i] = m_window[i] * m_history[(m_next + i) % length];
    // Each way's scores in units of its noise floor; what is found where the
    // receiver is now counts by the better of them.
    Scan scans[] = {Reversals(windowed, currentHz), Squared(windowed, currentHz)};
    double current = 0.0;
    const Scan* best = nullptr;
    size_t at = 0;
    for (Scan& scan : scans) {
        const double floor = NoiseFloor(scan.scores);
        if (!(floor > 0.0))
            return std::nullopt;
        for (double& score : scan.scores)
            score /= floor;
        current = std::max(current, scan.current / floor);
        const auto peak = std::max_element(scan.scores.begin(), scan.scores.end());
        if (!best || *peak > best->scores[at]) {
            best = &scan;
            at = static_cast<size_t>(peak - scan.scores.begin());
        }
    }
    const std::vector<double>& scores = best->scores;
    if (!(scores[at] > kClearAboveNoise && scores[at] > kClearAboveCurrent * current))
        return std::nullopt;
    // Between the grid points, on a parabola through the peak and its neighbours.
    double fraction = 0.0;
    if (at > 0 && at + 1 < scores.size()) {
        const double curvature = scores[at - 1] - 2.0 * scores[at] + scores[at + 1];
        if (curvature < 0.0)
            fraction = 0.5 * (scores[at - 1] - scores[at + 1]) / curvature;
    }
    return Offset(static_cast<int>(at)) + fraction * m_stepHz;
}

}  // namespace rz::psk
