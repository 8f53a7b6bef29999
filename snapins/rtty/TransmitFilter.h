// The transmitter's channel filter: a linear-phase band-pass around the signal's
// centre that lets the tones and the keying's near sidebands through unchanged
// and stops everything further than 3.5 baud beyond the tones by 60 dB. Hard
// keying spreads power far along the band; after this filter the signal keeps
// to its channel, while its phase stays continuous and its steady tones exact.
#ifndef RTTY_TX_FILTER_H
#define RTTY_TX_FILTER_H

#include <cstddef>
#include <vector>

#include "RttyTiming.h"
#include "RttyTones.h"

namespace rz::rtty {

class TransmitFilter {
public:
    TransmitFilter(Tones tones, double bitSamples);

    // A filter for other tones or another baud, keeping the input it holds so
    // that the audio runs on without a step.
    void Retune(Tones tones, double bitSamples);

    // Filters one sample; the output lags the input by Delay() samples.
    double Process(double sample);
    // Forgets all past input: the next over starts from silence.
    void Clear();
    // How many samples the output lags the input.
    int Delay() const { return static_cast<int>(m_taps.size() / 2); }
    // How many samples of silence flush out all that was put in.
    int Length() const { return static_cast<int>(m_taps.size()); }

private:
    static std::vector<double> Design(Tones tones, double bitSamples);

    std::vector<double> m_taps;
    std::vector<double> m_history;  // the last Length() inputs, twice over so that a window never wraps
    size_t m_next = 0;
};

}  // namespace rz::rtty

#endif
