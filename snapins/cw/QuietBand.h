// Whether the band close around the carrier falls back to the noise between
// the marks, as keying does. The power there is taken without regard to phase:
// coherent over a quarter dot (a band of about four dots' reciprocal), then
// four of those added up. A signal that changes its phase but not its power
// keeps the band up all the time: PSK's dips at its phase reversals are shorter
// than a dot, and a steady carrier never dips.
#ifndef CW_QUIET_BAND_H
#define CW_QUIET_BAND_H

#include <array>
#include <optional>
#include <vector>

#include "Baseband.h"

namespace rz::cw {

class QuietBand {
public:
    QuietBand();

    // The sender's dot, which sets the steps.
    void SetDot(double dotSamples);
    void Push(Complex sample);
    // How far the quietest fifth of the last six seconds lies above what noise
    // of `noisePower` alone leaves there, as a share of the key-down power
    // (`keyDownAmplitude` of one sample): near 0 for keying, which rests at
    // the noise, near 1 for a signal that never leaves the band; none until
    // most of those seconds are heard.
    std::optional<double> LevelAtRest(double noisePower, double keyDownAmplitude);

private:
    static constexpr int kStepsPerDot = 4;

    int m_stepSamples = 1;
    Complex m_sum;
    int m_count = 0;
    std::array<double, kStepsPerDot> m_steps{};  // the last dot's step powers
    size_t m_stepAt = 0;
    int m_stepsSeen = 0;
    std::vector<double> m_powers;  // a ring of the newest dot powers, one per step
    size_t m_newest = 0;
    size_t m_filled = 0;
    std::vector<double> m_window;
};

}  // namespace rz::cw

#endif
