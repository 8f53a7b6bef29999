// The first receive stage: the audio mixed down from the carrier to zero
// frequency and decimated from 8000 to 500 samples per second, keeping ±250 Hz
// around the carrier: room for the frequency search and the signal's keying.
#ifndef CW_BASEBAND_H
#define CW_BASEBAND_H

#include <array>
#include <complex>
#include <cstdint>

namespace rz::cw {

using Complex = std::complex<double>;

inline constexpr int kDecimation = 16;
inline constexpr int kBasebandRate = 8000 / kDecimation;
// Baseband samples in which a step of the input settles through the low-pass.
inline constexpr int kBasebandSettling = 4;

class Baseband {
public:
    explicit Baseband(double carrierHz);

    void SetCarrier(double hz);

    // Takes one audio sample; every kDecimation samples puts one baseband
    // sample in `out` and returns true.
    bool Push(int16_t sample, Complex& out);

private:
    // Windowed-sinc low-pass, cut at 250 Hz, more than 70 dB down from 350 Hz:
    // what lies beyond folds no closer than 150 Hz to the carrier.
    static constexpr int kTaps = 256;

    double m_step = 0.0;
    double m_phase = 0.0;
    std::array<Complex, kTaps> m_history{};
    int m_at = 0;
    int m_phaseInBlock = 0;
};

}  // namespace rz::cw

#endif
