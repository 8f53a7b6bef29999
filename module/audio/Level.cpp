#include "audio/Level.h"

#include <cmath>
#include <mutex>

#include <RUZada.h>

#include "core/Guard.h"
#include "util/Truncate.h"

std::atomic<int16_t> g_nSquelch{0};

namespace {

constexpr int kHistory = 1000;
constexpr double kInverseHistory = 0.001;
// 100 / 32767: the RMS in percent of full scale.
constexpr double kPercentOfFullScale = 0.0030518509475997192;
// The host's level and squelch are fractions; the module keeps whole percent.
constexpr double kPercentPerUnit = 100.0;
constexpr double kUnitPerPercent = 0.01;

int16_t g_LevelHistory[kHistory] = {};
int g_nLevelIndex = 0;
// Exact: squares are at most 2^30 and 1000 of them stay below 2^41.
std::atomic<double> g_dLevelSumSq{0.0};
std::mutex g_levelLock;

// One ring update; the caller holds g_levelLock.
void AccumulateLevel(int16_t sample)
{
    const int32_t old = g_LevelHistory[g_nLevelIndex];
    g_LevelHistory[g_nLevelIndex] = sample;
    g_nLevelIndex = g_nLevelIndex == kHistory - 1 ? 0 : g_nLevelIndex + 1;
    const int32_t now = sample;
    g_dLevelSumSq.store(g_dLevelSumSq.load(std::memory_order_relaxed) - old * old + now * now,
                        std::memory_order_relaxed);
}

}  // namespace

void FeedLevelMeter(int16_t* samples, int count, int16_t gate)
{
    std::lock_guard hold(g_levelLock);
    for (int i = 0; i < count; ++i) {
        AccumulateLevel(samples[i]);
        if (gate != 0 && GetLevelPercent() > gate)
            samples[i] = 0;
    }
}

int16_t GetLevelPercent()
{
    const double sum = g_dLevelSumSq.load(std::memory_order_relaxed);
    return static_cast<int16_t>(TruncateToInt32(std::sqrt(sum * kInverseHistory) * kPercentOfFullScale));
}

double GetDGLevel(void)
{
    return Guarded(0.0, [] { return GetLevelPercent() * kUnitPerPercent; });
}

void SetDGSquelch(double level)
{
    Guarded([&] {
        const auto squelch = static_cast<int16_t>(static_cast<uint16_t>(TruncateToInt32(level * kPercentPerUnit)));
        if (squelch != g_nSquelch)
            g_nSquelch = squelch;
    });
}

double GetDGSquelch(void)
{
    return Guarded(0.0, [] { return g_nSquelch * kUnitPerPercent; });
}
