// Audio to complex baseband: any DC offset blocked, the carrier mixed to zero
// frequency, the result low-pass filtered and decimated to 16 samples per
// symbol.
#ifndef PSK_DOWNCONVERTER_H
#define PSK_DOWNCONVERTER_H

#include <complex>

#include "Fir.h"

namespace rz::psk {

inline constexpr int kSamplesPerSymbol = 16;  // after decimation

class Downconverter {
public:
    explicit Downconverter(int symbolSamples);

    // The frequency mixed to zero; the oscillator's phase runs on unbroken.
    void SetFrequency(double hz);

    // Takes one audio sample; true when `out` holds the next baseband sample.
    bool Push(double sample, std::complex<double>& out);

    // The mean power of the audio taken since the last call.
    double TakeInputPower();

private:
    Fir m_filter;
    int m_decimation;
    int m_untilOutput;
    double m_phase = 0.0;
    double m_step = 0.0;
    double m_lastInput = 0.0;
    double m_lastBlocked = 0.0;
    double m_inputPower = 0.0;
    int m_inputSamples = 0;
};

}  // namespace rz::psk

#endif
