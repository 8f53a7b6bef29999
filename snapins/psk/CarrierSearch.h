// Finds a PSK signal's carrier within the receiver's range, from a spectrum of
// the last second, two ways:
// - reversals (every preamble, and the idle between characters) are two lines
//   half a symbol rate either side of the carrier, of equal strength;
// - squaring the baseband strips BPSK modulation and leaves a line at twice
//   the signal's offset, whatever the data; QPSK text has no such line and
//   leaves the carrier to the carrier loop.
#ifndef PSK_CARRIER_SEARCH_H
#define PSK_CARRIER_SEARCH_H

#include <complex>
#include <optional>
#include <vector>

#include "Fir.h"

namespace rz::psk {

class CarrierSearch {
public:
    // `rangeHz` either side of the set carrier.
    CarrierSearch(double baudRate, double rangeHz);

    // Takes one baseband sample, mixed down with the receiver's oscillator
    // `offsetHz` away from the set carrier.
    void Push(std::complex<double> sample, double offsetHz);

    // The offset from the set carrier of a clear signal, when one stands well
    // above the noise and above what is found at `currentHz`.
    std::optional<double> Find(double currentHz) const;

private:
    using Samples = std::vector<std::complex<double>>;
    // One way's score at each offset of the grid, and at the current offset.
    struct Scan {
        std::vector<double> scores;
        double current;
    };

    Scan Reversals(const Samples& windowed, double currentHz) const;
    Scan Squared(const Samples& windowed, double currentHz) const;
    // Power of the spectrum of `windowed` at `hz`.
    double LinePower(const Samples& windowed, double hz) const;
    double Offset(int index) const { return (index - m_steps) * m_stepHz; }

    double m_sampleRate;  // of the history
    double m_baudRate;
    double m_stepHz;
    int m_steps;  // grid points either side of the set carrier
    Fir m_filter;
    Samples m_history;  // a ring of the last second, back at the set carrier
    std::vector<double> m_window;
    size_t m_next = 0;
    int m_phaseOfDecimation = 0;
    size_t m_filled = 0;
    double m_oscillatorPhase = 0.0;
};

}  // namespace rz::psk

#endif
