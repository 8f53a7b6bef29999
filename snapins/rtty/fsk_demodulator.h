// Front end of the RTTY receiver: a filter matched to each tone (mixed to zero
// frequency and summed over one bit), followed by automatic frequency control
// that keeps both filters on a signal up to kMaxTuningHz off the set tones.
#ifndef RTTY_FSK_DEMODULATOR_H
#define RTTY_FSK_DEMODULATOR_H

#include <array>
#include <complex>
#include <cstdint>

#include "rtty_timing.h"
#include "rtty_tones.h"

namespace rz::rtty {

// Output magnitudes of the two matched filters for one sample.
struct ToneLevels {
    float mark;
    float space;
};

// A tone's matched filter: the last bit's worth of samples correlated with the tone.
class ToneFilter {
public:
    std::complex<double> Process(double sample, double frequencyHz);

private:
    std::array<std::complex<double>, kSamplesPerBit> m_products{};
    std::complex<double> m_sum;
    double m_phase = 0.0;
    int m_next = 0;
};

class FskDemodulator {
public:
    static constexpr double kMaxTuningHz = 50.0;

    explicit FskDemodulator(Tones tones);

    ToneLevels Process(int16_t sample);

    // With a carrier the tuning follows the signal quickly; without one it
    // searches slowly and drifts back to the set tones.
    void SetCarrier(bool present) { m_carrier = present; }
    double TuningOffsetHz() const { return m_tuningHz; }

private:
    // Lag over which the filters' phase drift measures the tuning error; one
    // quarter bit keeps the measure unambiguous up to ±90 Hz.
    static constexpr int kTuningLag = kSamplesPerBit / 4;

    void UpdateTuning();

    Tones m_tones;
    ToneFilter m_markFilter;
    ToneFilter m_spaceFilter;
    std::array<std::complex<double>, kTuningLag> m_markHistory{};
    std::array<std::complex<double>, kTuningLag> m_spaceHistory{};
    int m_historyNext = 0;
    std::complex<double> m_drift;
    int m_driftSamples = 0;
    double m_tuningHz = 0.0;
    bool m_carrier = false;
};

}  // namespace rz::rtty

#endif
