// How strong the signal is with the key down around the moment being decoded:
// the envelope through a filter one dot long, over a window that reaches a few
// dots either side of that moment (the keying is read behind the newest
// sample, so the window can look ahead), taken at a high percentile, less what
// the noise adds. The window narrows on a clear signal, so that the level
// follows a fade, and widens in noise, where only many marks together tell it.
#ifndef CW_MARK_LEVEL_H
#define CW_MARK_LEVEL_H

#include <vector>

#include "Baseband.h"
#include "MatchedFilter.h"

namespace rz::cw {

class MarkLevel {
public:
    // The moment decoded lies `delay` baseband samples behind the newest one.
    explicit MarkLevel(int delay);

    // The sender's dot, which sets the filter and the window.
    void SetDot(double dotSamples);
    void Push(Complex sample);
    // Measures the level at the moment decoded, given the noise power of one baseband sample.
    void Measure(double noisePower);

    // Amplitude of one baseband sample with the key down.
    double KeyDown() const { return m_keyDown; }

private:
    int m_delay;
    MatchedFilter m_filter;
    std::vector<double> m_envelope;  // a ring of the newest envelopes
    size_t m_newest = 0;
    std::vector<double> m_window;
    double m_keyDown = 0.0;
};

}  // namespace rz::cw

#endif
