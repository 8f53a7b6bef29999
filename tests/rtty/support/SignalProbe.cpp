#include "SignalProbe.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <numbers>

#include "RttyTiming.h"

namespace rz::rtty::testing {

namespace {

double StepCosine(double hz) { return std::cos(2.0 * std::numbers::pi * hz / kSampleRate); }

}  // namespace

double TonePower(const int16_t* samples, int count, double hz)
{
    const double coefficient = 2.0 * StepCosine(hz);
    double previous = 0.0;
    double beforePrevious = 0.0;
    for (int i = 0; i < count; ++i) {
        const double current = samples[i] + coefficient * previous - beforePrevious;
        beforePrevious = previous;
        previous = current;
    }
    return previous * previous + beforePrevious * beforePrevious - coefficient * previous * beforePrevious;
}

bool HoldsMark(const int16_t* samples, int count, Tones tones)
{
    return TonePower(samples, count, tones.markHz) > TonePower(samples, count, tones.spaceHz);
}

double LargestStray(const std::vector<int16_t>& samples, Tones tones)
{
    // A glide passes every frequency between the tones: the sine through the
    // neighbours may have any of them.
    const double lowest = std::min(StepCosine(tones.markHz), StepCosine(tones.spaceHz));
    const double highest = std::max(StepCosine(tones.markHz), StepCosine(tones.spaceHz));
    double largest = 0.0;
    for (size_t i = 1; i + 1 < samples.size(); ++i) {
        const double outer = static_cast<double>(samples[i - 1]) + samples[i + 1];
        const double middle = samples[i];
        const double cosine = middle != 0.0 ? std::clamp(outer / (2.0 * middle), lowest, highest) : lowest;
        largest = std::max(largest, std::abs(outer - 2.0 * cosine * middle));
    }
    return largest;
}

double OutOfChannelShare(const std::vector<int16_t>& samples, double centreHz, double halfWidthHz)
{
    constexpr int kLength = 4096;
    constexpr int kBins = kLength / 2 + 1;
    double* frame = fftw_alloc_real(kLength);
    fftw_complex* spectrum = fftw_alloc_complex(kBins);
    const fftw_plan plan = fftw_plan_dft_r2c_1d(kLength, frame, spectrum, FFTW_ESTIMATE);
    std::vector<double> power(kBins, 0.0);
    for (size_t start = 0; start + kLength <= samples.size(); start += kLength / 2) {
        for (int i = 0; i < kLength; ++i) {
            const double hann = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * i / kLength);
            frame[i] = hann * samples[start + static_cast<size_t>(i)];
        }
        fftw_execute(plan);
        for (int bin = 0; bin < kBins; ++bin)
            power[static_cast<size_t>(bin)] +=
                spectrum[bin][0] * spectrum[bin][0] + spectrum[bin][1] * spectrum[bin][1];
    }
    fftw_destroy_plan(plan);
    fftw_free(spectrum);
    fftw_free(frame);
    double total = 0.0;
    double outside = 0.0;
    for (int bin = 0; bin < kBins; ++bin) {
        const double hz = static_cast<double>(bin) * kSampleRate / kLength;
        total += power[static_cast<size_t>(bin)];
        if (std::abs(hz - centreHz) > halfWidthHz)
            outside += power[static_cast<size_t>(bin)];
    }
    return total > 0.0 ? outside / total : 0.0;
}

}  // namespace rz::rtty::testing
