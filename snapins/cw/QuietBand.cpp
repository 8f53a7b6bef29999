#include "QuietBand.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

#include "CwTiming.h"
#include "Quantile.h"

namespace rz::cw {

namespace {

// Long enough to hold word gaps and many gaps between characters.
constexpr double kHistorySeconds = 6.0;
// Until this share of it is heard nothing counts as quiet: at its start a
// signal would find the band quiet with the noise before it.
constexpr double kFewestShare = 0.75;
// Keying rests at the noise for a third to a half of a text's time.
constexpr double kQuantile = 0.2;
// The 20th percentile of noise alone through four steps added up (a gamma
// distribution of shape 4), over its mean.
constexpr double kNoiseAtQuantile = 0.5742;
constexpr double kMinDot = DotSeconds(kMaxWpm) * kBasebandRate;

}  // namespace

QuietBand::QuietBand() : m_powers(static_cast<size_t>(kHistorySeconds * kBasebandRate * kStepsPerDot / kMinDot))
{
    SetDot(DotSeconds(20.0) * kBasebandRate);
}

// The powers heard at another dot stay: each is scaled to its own step.
void QuietBand::SetDot(double dotSamples)
{
    m_stepSamples = std::max(1, static_cast<int>(std::lround(dotSamples / kStepsPerDot)));
}

void QuietBand::Push(Complex sample)
{
    m_sum += sample;
    if (++m_count < m_stepSamples)
        return;
    // Scaled so that noise of power N gives N over the dot, and a key-down
    // amplitude A gives A² times the step.
    m_steps[m_stepAt] = std::norm(m_sum) / (kStepsPerDot * m_count);
    m_stepAt = (m_stepAt + 1) % m_steps.size();
    m_sum = Complex();
    m_count = 0;
    if (++m_stepsSeen < kStepsPerDot)
        return;
    m_newest = (m_newest + 1) % m_powers.size();
    m_powers[m_newest] = std::accumulate(m_steps.begin(), m_steps.end(), 0.0);
    m_filled = std::min(m_filled + 1, m_powers.size());
}

std::optional<double> QuietBand::LevelAtRest(double noisePower, double keyDownAmplitude)
{
    const double keyDown = keyDownAmplitude * keyDownAmplitude * m_stepSamples;
    // The ring holds six seconds at the fastest speed; slower, fewer steps make them.
    const size_t span = std::min(m_powers.size(), static_cast<size_t>(kHistorySeconds * kBasebandRate / m_stepSamples));
    if (static_cast<double>(m_filled) < kFewestShare * static_cast<double>(span))
        return std::nullopt;
    // No key-down power at all: nothing there is keying.
    if (!(keyDown > 0.0))
        return std::numeric_limits<double>::infinity();
    const size_t count = std::min(m_filled, span);
    m_window.clear();
    for (size_t age = 0; age < count; ++age)
        m_window.push_back(m_powers[(m_newest + m_powers.size() - age) % m_powers.size()]);
    return (Quantile(m_window, kQuantile) - kNoiseAtQuantile * noisePower) / keyDown;
}

}  // namespace rz::cw
