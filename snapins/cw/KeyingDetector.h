// Decides, sample by sample, whether the key is down: a filter matched to the
// elements (a moving sum about one dot long, so each element's length is kept
// where the envelope crosses half its height), a threshold half-way between
// the signal's level and the noise's, both followed as they change, and a
// debounce that ignores flickers shorter than a fraction of a dot.
#ifndef CW_KEYING_DETECTOR_H
#define CW_KEYING_DETECTOR_H

#include <optional>

#include "Baseband.h"
#include "MatchedFilter.h"

namespace rz::cw {

class KeyingDetector {
public:
    struct Run {
        bool keyDown;
        int samples;
    };

    // The matched filter's length, how long a change must last to count, and
    // the dot, which sets how long a gap must be to count as a pause.
    void SetTiming(int filterLength, int debounce, int dotSamples);

    // Sets the noise level before the first sample, from a measure of the noise elsewhere.
    void Start(double noiseLevel);

    // The strongest output of the matched filter around the sample decided
    // next, measured ahead of it; 0 when unknown. Where a fade has weakened
    // the marks there, the threshold comes down with them at once.
    void SetAheadLevel(double level) { m_ahead = level; }

    // Takes one baseband sample; returns the run that a change of the key has ended.
    std::optional<Run> Push(Complex sample);

    bool KeyDown() const { return m_keyDown; }
    // Samples since the key last changed, not counting a change still being debounced.
    int Current() const { return m_current - m_disagree; }
    // Mean envelope while the key is down, and while it is up.
    double SignalLevel() const { return m_signal; }
    double NoiseLevel() const { return m_noise; }
    // The filter holds only the current run, past its edges; its oldest sample
    // surely belongs to the run, whichever change may be on its way.
    bool Settled() const { return m_settled; }
    Complex OldestInFilter() const { return m_filter.Oldest(); }

private:
    MatchedFilter m_filter;
    int m_debounce = 4;
    double m_signalFollow = 1.0 / 30.0;
    int m_pauseSamples = 300;
    double m_signal = 0.0;
    double m_noise = 0.0;
    double m_ahead = 0.0;
    bool m_keyDown = false;
    bool m_settled = false;
    int m_current = 0;
    int m_disagree = 0;
    double m_evidence = 0.0;
};

}  // namespace rz::cw

#endif
