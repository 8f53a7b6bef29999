#include "CarrierSearch.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace rz::cw {

namespace {

constexpr double kBinHz = static_cast<double>(kBasebandRate) / CarrierSearch::kFrameSamples;
// Each spectrum counts 1/12 into the average: about 1.5 s of memory.
constexpr double kAveraging = 1.0 / 12.0;
// A line this far above the median is a signal to follow.
constexpr double kFollowDb = 6.0;
// The first 0.8 s of spectra are too rough to tell a line from noise.
constexpr int kFramesToTrust = 6;
constexpr int kNearBins = 3;
constexpr double kSwitchRatio = 4.0;

}  // namespace

CarrierSearch::CarrierSearch() : m_turns(kFrameSamples)
{
    for (int n = 0; n < kFrameSamples; ++n) {
        m_turns[static_cast<size_t>(n)] = std::polar(1.0, -2.0 * std::numbers::pi * n / kFrameSamples);
        m_window[static_cast<size_t>(n)] = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * (n + 0.5) / kFrameSamples);
        m_windowPower += m_window[static_cast<size_t>(n)] * m_window[static_cast<size_t>(n)];
    }
}

bool CarrierSearch::Push(Complex sample)
{
    m_history[static_cast<size_t>(m_at)] = sample;
    m_at = (m_at + 1) % kFrameSamples;
    if (++m_sinceFrame < kHopSamples)
        return false;
    m_sinceFrame = 0;
    Analyse();
    return true;
}

void CarrierSearch::Analyse()
{
    const double weight = m_frames < 12 ? 1.0 / (m_frames + 1) : kAveraging;
    ++m_frames;
    for (int k = -kHalfBins; k <= kHalfBins; ++k) {
        Complex sum;
        const int step = (k + kFrameSamples) % kFrameSamples;
        int turn = 0;
        for (int n = 0; n < kFrameSamples; ++n) {
            sum += m_window[static_cast<size_t>(n)] * m_history[static_cast<size_t>((m_at + n) % kFrameSamples)] *
                   m_turns[static_cast<size_t>(turn)];
            turn = (turn + step) % kFrameSamples;
        }
        double& power = m_power[static_cast<size_t>(k + kHalfBins)];
        power += weight * (std::norm(sum) - power);
    }
    std::array<double, kBins> sorted = m_power;
    std::nth_element(sorted.begin(), sorted.begin() + kBins / 2, sorted.end());
    m_median = sorted[kBins / 2];

    int peak = kHalfBins - kSearchBins;
    for (int i = peak; i <= kHalfBins + kSearchBins; ++i) {
        if (m_power[static_cast<size_t>(i)] > m_power[static_cast<size_t>(peak)])
            peak = i;
    }
    const double peakPower = m_power[static_cast<size_t>(peak)];
    if (m_frames < kFramesToTrust || !(peakPower > m_median * std::pow(10.0, kFollowDb / 10.0)))
        return;
    // Near the line followed now, follow; a line elsewhere wins only when it is
    // clearly stronger, so two signals or a keying sideband do not pull the tuning about.
    const int followed = static_cast<int>(std::lround(m_peakOffsetHz / kBinHz)) + kHalfBins;
    if (std::abs(peak - followed) > kNearBins && peakPower < kSwitchRatio * LinePower(followed))
        return;
    // The top of a parabola through the peak and its neighbours, in dB.
    const double left = 10.0 * std::log10(m_power[static_cast<size_t>(peak - 1)] + 1e-30);
    const double centre = 10.0 * std::log10(peakPower);
    const double right = 10.0 * std::log10(m_power[static_cast<size_t>(peak + 1)] + 1e-30);
    const double curvature = left - 2.0 * centre + right;
    const double shift = curvature < 0.0 ? std::clamp(0.5 * (left - right) / curvature, -0.5, 0.5) : 0.0;
    m_peakOffsetHz = (peak - kHalfBins + shift) * kBinHz;
}

double CarrierSearch::LinePower(int bin) const
{
    double line = 0.0;
    for (int i = std::max(bin - 1, 0); i <= std::min(bin + 1, kBins - 1); ++i)
        line = std::max(line, m_power[static_cast<size_t>(i)]);
    return line;
}

double CarrierSearch::LineDb(double offsetHz) const
{
    if (m_frames < kFramesToTrust || !(m_median > 0.0))
        return 0.0;
    return 10.0 * std::log10(LinePower(static_cast<int>(std::lround(offsetHz / kBinHz)) + kHalfBins) / m_median);
}

}  // namespace rz::cw
