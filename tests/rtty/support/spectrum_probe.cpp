#include "spectrum_probe.h"

#include <fftw3.h>

#include <cmath>
#include <numbers>

#include "rtty_timing.h"

namespace rz::rtty::testing {

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
