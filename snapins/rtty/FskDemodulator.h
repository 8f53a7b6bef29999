// Front end of the RTTY receiver: a filter matched to each tone (mixed to zero
// frequency and summed over one bit), followed by automatic frequency control
// that keeps both filters on a signal up to kMaxTuningHz off the set tones.
//
// Over one bit the two tones are not orthogonal unless the shift holds a whole
// number of cycles of the baud (170 Hz at 45.45 baud holds 3.74): each tone leaks
// into the other's filter by a known share ρ, the mean over the filter of the
// phasor between the two filters' oscillators. Both outputs are freed of it, so
// that each level holds only its own tone.
#ifndef RTTY_FSK_DEMODULATOR_H
#define RTTY_FSK_DEMODULATOR_H

#include <complex>
#include <cstdint>
#include <vector>

#include "RttyTiming.h"
#include "RttyTones.h"

namespace rz::rtty {

// Output magnitudes of the two matched filters for one sample.
struct ToneLevels {
    float mark;
    float space;
};

// The sum of the last `length` values added.
class SlidingSum {
public:
    explicit SlidingSum(int length) : m_values(static_cast<size_t>(length)) {}

    std::complex<double> Add(std::complex<double> value);
    int Length() const { return static_cast<int>(m_values.size()); }

private:
    std::vector<std::complex<double>> m_values;
    std::complex<double> m_sum;
    size_t m_next = 0;
};

// A tone's matched filter: the last `length` samples correlated with the tone.
class ToneFilter {
public:
    explicit ToneFilter(int length) : m_sum(length) {}

    std::complex<double> Process(double sample, double frequencyHz);
    // The oscillator's phasor that the last sample was mixed with.
    std::complex<double> Phasor() const { return m_phasor; }

private:
    SlidingSum m_sum;
    std::complex<double> m_phasor;
    double m_phase = 0.0;
};

class FskDemodulator {
public:
    static constexpr double kMaxTuningHz = 50.0;

    FskDemodulator(Tones tones, double bitSamples);

    ToneLevels Process(int16_t sample);

    // With a carrier the tuning follows the signal quickly; without one it
    // searches slowly and drifts back to the set tones.
    void SetCarrier(bool present) { m_carrier = present; }
    // New set tones: the tuning starts again from them.
    void SetTones(Tones tones);
    // Without frequency control the filters stay on the set tones.
    void SetAfc(bool on);
    bool Afc() const { return m_afc; }
    double TuningOffsetHz() const { return m_tuningHz; }

private:
    void UpdateTuning();

    Tones m_tones;
    bool m_afc = true;
    int m_bitLength;  // of the tone filters
    // Lag over which the filters' phase drift measures the tuning error; one
    // quarter bit keeps the measure unambiguous up to ±90 Hz at 45 baud.
    int m_tuningLag;
    ToneFilter m_markFilter;
    ToneFilter m_spaceFilter;
    SlidingSum m_leak;  // of the phasor between the two oscillators
    std::vector<std::complex<double>> m_markHistory;
    std::vector<std::complex<double>> m_spaceHistory;
    size_t m_historyNext = 0;
    std::complex<double> m_drift;
    int m_driftSamples = 0;
    double m_tuningHz = 0.0;
    bool m_carrier = false;
};

}  // namespace rz::rtty

#endif
