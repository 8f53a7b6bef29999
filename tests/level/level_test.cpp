#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <thread>
#include <utility>
#include <vector>

#include <RUZada.h>

#include "audio/Level.h"

namespace {

void Feed(std::vector<int16_t> samples, int16_t gate = 0)
{
    FeedLevelMeter(samples.data(), static_cast<int>(samples.size()), gate);
}

TEST(LevelMeter, FullScaleSilenceAndSine)
{
    Feed(std::vector<int16_t>(1000, 32767));
    EXPECT_DOUBLE_EQ(GetDGLevel(), 1.00);
    Feed(std::vector<int16_t>(1000, 0));
    EXPECT_DOUBLE_EQ(GetDGLevel(), 0.00);
    // 1000 samples hold exactly 25 periods of 40.
    std::vector<int16_t> sine(1000);
    for (int i = 0; i < 1000; ++i)
        sine[i] = static_cast<int16_t>(std::lround(32767 * std::sin(2 * M_PI * i / 40)));
    Feed(sine);
    EXPECT_DOUBLE_EQ(GetDGLevel(), 0.70);
}

TEST(LevelMeter, MeasuresOnlyTheLastThousandSamples)
{
    Feed(std::vector<int16_t>(5000, 32767));
    Feed(std::vector<int16_t>(999, 0));
    // One full-scale sample left in the window: sqrt(32767^2 / 1000) is 3.16 %.
    EXPECT_EQ(GetLevelPercent(), 3);
    Feed({0});
    EXPECT_EQ(GetLevelPercent(), 0);
    // Negative full scale reads above 100 % only by truncation.
    Feed(std::vector<int16_t>(1000, -32768));
    EXPECT_EQ(GetLevelPercent(), 100);
}

TEST(Squelch, StoresTheLow16BitsOfTheWholePercentTruncated)
{
    // 655.36 -> 65536 -> 0; what is no number at all gives 0 too.
    const std::pair<double, int> cases[] = {{0.25, 25},  {0.999, 99},       {-0.5, -50},
                                            {655.36, 0}, {std::nan(""), 0}, {1e300, 0}};
    for (const auto& [value, stored] : cases) {
        SetDGSquelch(value);
        EXPECT_EQ(g_nSquelch, stored) << value;
        EXPECT_DOUBLE_EQ(GetDGSquelch(), stored / 100.0) << value;
    }
}

TEST(Squelch, GateMutesOnceTheRunningLevelExceedsTheThreshold)
{
    Feed(std::vector<int16_t>(1000, 0));
    std::vector<int16_t> block(2000, 5000);
    FeedLevelMeter(block.data(), 2000, 10);
    // The whole percent first exceeds 10 (reads 11) once sum/1000 >= (11 * 32767 / 100)^2:
    // with the 520th sample of 5000, which is the first one muted.
    std::vector<int16_t> expected(2000, 0);
    std::fill_n(expected.begin(), 519, 5000);
    EXPECT_EQ(block, expected);
    // The meter measured what arrived, not what the gate left.
    EXPECT_EQ(GetLevelPercent(), 15);
}

TEST(Squelch, ZeroNeverMutesAndNegativeMutesEverything)
{
    std::vector<int16_t> loud(1000, 32767);
    FeedLevelMeter(loud.data(), 1000, 0);
    EXPECT_EQ(loud, std::vector<int16_t>(1000, 32767));
    std::vector<int16_t> quiet(100, 1);
    FeedLevelMeter(quiet.data(), 100, -50);
    EXPECT_EQ(quiet, std::vector<int16_t>(100, 0));
}

// The meter keeps a running sum beside its window: an update lost to the other
// feeder would leave the sum off for good, and the level of a window filled
// afterwards from one thread would read wrong.
TEST(LevelMeter, StaysConsistentWhenBothFeedersRunAtOnce)
{
    auto feeder = [](int16_t value) {
        std::vector<int16_t> block(3250, value);
        for (int round = 0; round < 200; ++round)
            FeedLevelMeter(block.data(), 3250, 0);
    };
    std::thread receive(feeder, 16384), transmit(feeder, 8192);
    receive.join();
    transmit.join();
    std::vector<int16_t> window(1000, 16384);
    FeedLevelMeter(window.data(), 1000, 0);
    EXPECT_EQ(GetLevelPercent(), 50);
}

}  // namespace
