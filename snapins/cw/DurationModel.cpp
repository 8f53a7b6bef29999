#include "DurationModel.h"

#include <algorithm>
#include <cmath>

namespace rz::cw {

namespace {

// Spread of each kind on a log scale: a hand's ±25 % and its drift, and the
// step's own coarseness for a machine.
constexpr double kSpread = 0.22;
// Each kind reaches this far either side of its mean, with a small share
// spread evenly over that reach: a hand sometimes sends a dash or a gap far
// from its usual length, which must stay possible, if unlikely.
constexpr double kReach = 2.5;
constexpr double kEvenShare = 0.05;
// The share of word gaps that go on into a pause, and how long a pause lasts on
// average, in word gaps.
constexpr double kPauseShare = 0.3;
constexpr double kPauseWordGaps = 4.0;

}  // namespace

KeyingTimes StandardTimes(double dotSamples)
{
    return {dotSamples, 3.0 * dotSamples, dotSamples, 3.0 * dotSamples, 7.0 * dotSamples};
}

void DurationModel::Set(const KeyingTimes& times, double stepSamples)
{
    const double means[kKinds] = {times.dot, times.dash, times.elementGap, times.charGap, times.wordGap};
    for (int k = 0; k < kKinds; ++k) {
        Steps& table = m_tables[static_cast<size_t>(k)];
        const double mean = means[k] / stepSamples;
        table.minSteps = std::max(1, static_cast<int>(std::floor(mean / kReach)));
        table.maxSteps = std::max(table.minSteps, static_cast<int>(std::ceil(mean * kReach)));
        const size_t count = static_cast<size_t>(table.maxSteps - table.minSteps + 1);
        std::vector<double> shape(count);
        double total = 0.0;
        for (size_t i = 0; i < count; ++i) {
            const double x = std::log((table.minSteps + static_cast<int>(i)) / mean) / kSpread;
            shape[i] = std::exp(-0.5 * x * x);
            total += shape[i];
        }
        const double share = static_cast<Duration>(k) == Duration::kWordGap ? 1.0 - kPauseShare : 1.0;
        table.logPmf.assign(count, 0.0);
        table.logSurvival.assign(count, 0.0);
        double survival = static_cast<Duration>(k) == Duration::kWordGap ? kPauseShare : 0.0;
        for (size_t i = count; i-- > 0;) {
            const double p = share * ((1.0 - kEvenShare) * shape[i] / total + kEvenShare / static_cast<double>(count));
            table.logPmf[i] = std::log(p);
            survival += p;
            table.logSurvival[i] = std::log(survival);
        }
    }
    const double pauseSteps = kPauseWordGaps * times.wordGap / stepSamples;
    m_logPauseStart = std::log(kPauseShare);
    m_logPauseStep = std::log(1.0 - 1.0 / std::max(pauseSteps, 2.0));
}

}  // namespace rz::cw
