#include "tone_probe.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "rtty_timing.h"

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

}  // namespace rz::rtty::testing
