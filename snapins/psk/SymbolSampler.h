// Baseband to one complex value per symbol: a filter matched to the
// transmitted pulse (a raised cosine two symbols long), symbol timing that
// follows the sender's clock, and a short equaliser that removes what each
// matched pulse leaves on its neighbours. Beside it, the same filter three
// symbol rates either side of the carrier, where no PSK signal of this speed
// puts any power, measures the noise.
#ifndef PSK_SYMBOL_SAMPLER_H
#define PSK_SYMBOL_SAMPLER_H

#include <array>
#include <complex>
#include <cstdint>
#include <vector>

#include "Fir.h"

namespace rz::psk {

struct SymbolSample {
    std::complex<double> value;  // equalised
    double power;                // mean power of the matched filter's output over the symbol
    double noiseBelow;           // the same of the filter below the carrier
    double noiseAbove;           // and above it
    double inputPower;           // mean power of the audio over the symbol, for the receiver to fill in
};

class SymbolSampler {
public:
    SymbolSampler();

    // Takes one baseband sample (16 a symbol); true when `symbol` holds the
    // next symbol, two symbols behind the sampling instant.
    bool Push(std::complex<double> sample, SymbolSample& symbol);
    // With `steady`, the timing follows slowly: the receiver holds a signal.
    void SetSteady(bool steady) { m_steady = steady; }

private:
    using Complex = std::complex<double>;
    static constexpr int kEqualiserTaps = 5;

    void UpdateTiming();

    Fir m_matched;
    Fir m_below;
    Fir m_above;
    std::array<double, kEqualiserTaps> m_equaliser{};
    std::array<Complex, kEqualiserTaps> m_symbols{};

    int64_t m_sample = 0;  // count of baseband samples
    Complex m_previous = 0.0;
    double m_lastInstant = 0.0;
    double m_nextInstant;
    Complex m_harmonic = 0.0;  // this symbol's energy against the sampling instant
    Complex m_profile = 0.0;   // the same, averaged over symbols
    bool m_steady = false;
    double m_power = 0.0;
    double m_noiseBelow = 0.0;
    double m_noiseAbove = 0.0;
    int m_powerSamples = 0;
};

}  // namespace rz::psk

#endif
