#include "Baseband.h"

#include <cmath>
#include <numbers>

namespace rz::cw {

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr double kCutoffHz = 250.0;

template <int Taps>
std::array<double, Taps> LowPass()
{
    std::array<double, Taps> taps{};
    double sum = 0.0;
    for (int i = 0; i < Taps; ++i) {
        const double t = i - (Taps - 1) / 2.0;
        const double x = kTwoPi * kCutoffHz / 8000.0 * t;
        const double sinc = t == 0.0 ? 1.0 : std::sin(x) / x;
        const double w = kTwoPi * i / (Taps - 1);
        const double blackman = 0.42 - 0.5 * std::cos(w) + 0.08 * std::cos(2.0 * w);
        taps[static_cast<size_t>(i)] = sinc * blackman;
        sum += taps[static_cast<size_t>(i)];
    }
    for (double& tap : taps)
        tap /= sum;
    return taps;
}

}  // namespace

Baseband::Baseband(double carrierHz) { SetCarrier(carrierHz); }

void Baseband::SetCarrier(double hz) { m_step = kTwoPi * hz / 8000.0; }

bool Baseband::Push(int16_t sample, Complex& out)
{
    static const std::array<double, kTaps> kLowPass = LowPass<kTaps>();
    m_history[static_cast<size_t>(m_at)] = std::polar(static_cast<double>(sample), -m_phase);
    m_at = (m_at + 1) % kTaps;
    m_phase += m_step;
    if (m_phase >= kTwoPi)
        m_phase -= kTwoPi;
    if (++m_phaseInBlock < kDecimation)
        return false;
    m_phaseInBlock = 0;
    Complex sum;
    for (int i = 0; i < kTaps; ++i)
        sum += kLowPass[static_cast<size_t>(i)] * m_history[static_cast<size_t>((m_at + i) % kTaps)];
    out = sum;
    return true;
}

}  // namespace rz::cw
