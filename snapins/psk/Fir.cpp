#include "Fir.h"

#include <cmath>
#include <numbers>

namespace rz::psk {

std::vector<double> LowPass(int length, double cutoff)
{
    constexpr double kTwoPi = 2.0 * std::numbers::pi;
    std::vector<double> taps(static_cast<size_t>(length));
    double sum = 0.0;
    for (int i = 0; i < length; ++i) {
        const double t = i - (length - 1) / 2.0;
        const double x = kTwoPi * i / (length - 1);
        const double window = 0.42 - 0.5 * std::cos(x) + 0.08 * std::cos(2.0 * x);
        const double sinc = t == 0.0 ? 2.0 * cutoff : std::sin(kTwoPi * cutoff * t) / (std::numbers::pi * t);
        taps[static_cast<size_t>(i)] = window * sinc;
        sum += taps[static_cast<size_t>(i)];
    }
    for (double& tap : taps)
        tap /= sum;
    return taps;
}

std::complex<double> Fir::Output() const
{
    // The oldest sample meets the first tap.
    const std::complex<double>* window = &m_history[m_newest + 1];
    std::complex<double> sum = 0.0;
    for (size_t i = 0; i < m_taps.size(); ++i)
        sum += m_taps[i] * window[i];
    return sum;
}

}  // namespace rz::psk
