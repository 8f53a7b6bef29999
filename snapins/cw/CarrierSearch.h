// Looks for the CW signal near the carrier: an averaged spectrum of ±117 Hz
// around it, in which a keyed carrier stands out as a line. The strongest line
// within ±100 Hz gives the frequency to follow, and how far a line stands above
// the spectrum's median gives the signal quality; white noise, flat across the
// spectrum, gives none.
#ifndef CW_CARRIER_SEARCH_H
#define CW_CARRIER_SEARCH_H

#include <array>
#include <vector>

#include "Baseband.h"

namespace rz::cw {

class CarrierSearch {
public:
    static constexpr double kSearchHz = 100.0;
    // A new spectrum every 128 ms, from the last 512 ms.
    static constexpr int kFrameSamples = 256;
    static constexpr int kHopSamples = 64;

    CarrierSearch();

    // Takes one baseband sample; returns true when it completed a spectrum.
    bool Push(Complex sample);

    // The offset from the carrier of the strongest line within ±kSearchHz, or
    // of the last one found while none stands out.
    double PeakOffsetHz() const { return m_peakOffsetHz; }
    // How far the line nearest `offsetHz` stands above the median, in dB.
    double LineDb(double offsetHz) const;
    // The noise power of one baseband sample, from the spectrum's median, which
    // a signal or two in the band hardly moves.
    double NoisePower() const { return m_median / m_windowPower; }

private:
    static constexpr int kHalfBins = 60;
    static constexpr int kSearchBins = 51;
    static constexpr int kBins = 2 * kHalfBins + 1;

    void Analyse();
    // The strongest of a bin and its two neighbours.
    double LinePower(int bin) const;

    std::array<Complex, kFrameSamples> m_history{};
    int m_at = 0;
    int m_sinceFrame = 0;
    int m_frames = 0;
    std::vector<Complex> m_turns;  // e^{-2πi·n/kFrameSamples}
    std::array<double, kFrameSamples> m_window{};
    std::array<double, kBins> m_power{};
    double m_median = 0.0;
    double m_windowPower = 0.0;
    double m_peakOffsetHz = 0.0;
};

}  // namespace rz::cw

#endif
