#include <gtest/gtest.h>

#include <cmath>
#include <thread>
#include <vector>

#include <RUZada.h>

#include "audio/Level.h"

namespace {

void Feed(std::vector<int16_t> samples, int16_t gate = 0)
{
    FeedLevelMeter(samples.data(), static_cast<int>(samples.size()), gate);
}

std::vector<int16_t> Sine(int count, double amplitude, int period)
{
    std::vector<int16_t> samples(count);
    for (int i = 0; i < count; ++i)
        samples[i] = static_cast<int16_t>(std::lround(amplitude * std::sin(2 * M_PI * i / period)));
    return samples;
}

TEST(LevelMeter, FullScaleSilenceAndSine)
{
    Feed(std::vector<int16_t>(1000, 32767));
    EXPECT_DOUBLE_EQ(GetDGLevel(), 1.00);
    Feed(std::vector<int16_t>(1000, 0));
    EXPECT_DOUBLE_EQ(GetDGLevel(), 0.00);
    // 1000 samples hold exactly 25 periods of 40.
    Feed(Sine(1000, 32767, 40));
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
}

TEST(LevelMeter, NegativeFullScaleReadsAboveOneHundredOnlyByTruncation)
{
    Feed(std::vector<int16_t>(1000, -32768));
    EXPECT_EQ(GetLevelPercent(), 100);
}

TEST(Squelch, StoresWholePercentTruncated)
{
    SetDGSquelch(0.25);
    EXPECT_EQ(g_nSquelch, 25);
    EXPECT_DOUBLE_EQ(GetDGSquelch(), 0.25);
    SetDGSquelch(0.999);
    EXPECT_EQ(g_nSquelch, 99);
    EXPECT_DOUBLE_EQ(GetDGSquelch(), 0.99);
    SetDGSquelch(-0.5);
    EXPECT_EQ(g_nSquelch, -50);
    // The low 16 bits of the whole percent: 655.36 -> 65536 -> 0.
    SetDGSquelch(655.36);
    EXPECT_EQ(g_nSquelch, 0);
    SetDGSquelch(std::nan(""));
    EXPECT_EQ(g_nSquelch, 0);
    SetDGSquelch(1e300);
    EXPECT_EQ(g_nSquelch, 0);
}

TEST(Squelch, GateMutesOnceTheRunningLevelExceedsTheThreshold)
{
    Feed(std::vector<int16_t>(1000, 0));
    std::vector<int16_t> block(2000, 5000);
    FeedLevelMeter(block.data(), 2000, 10);
    // The level passes 10 % once sum/1000 > (10 * 32767 / 100)^2: after 430 samples of 5000.
    int firstMuted = -1;
    for (int i = 0; i < 2000; ++i)
        if (block[i] == 0) {
            firstMuted = i;
            break;
        }
    ASSERT_GT(firstMuted, 0);
    for (int i = 0; i < firstMuted; ++i)
        ASSERT_EQ(block[i], 5000);
    for (int i = firstMuted; i < 2000; ++i)
        ASSERT_EQ(block[i], 0) << i;
    const double level = std::sqrt(5000.0 * 5000.0 * (firstMuted + 1) / 1000.0) * 100.0 / 32767.0;
    EXPECT_GT(static_cast<int>(level), 10);
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

TEST(LevelMeter, StaysConsistentWhenBothFeedersRunAtOnce)
{
    // Two threads feeding the same value: whatever the interleaving, the window
    // holds only that value, so the reading is exact.
    auto feeder = [] {
        std::vector<int16_t> block(3250, 16384);
        for (int round = 0; round < 200; ++round)
            FeedLevelMeter(block.data(), 3250, 0);
    };
    std::thread receive(feeder), transmit(feeder);
    for (int i = 0; i < 1000; ++i) {
        const int16_t level = GetLevelPercent();
        ASSERT_GE(level, 0);
        ASSERT_LE(level, 100);
    }
    receive.join();
    transmit.join();
    EXPECT_EQ(GetLevelPercent(), 50);
}

}  // namespace
