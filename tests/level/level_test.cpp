// The level meter, the squelch gate, and the feeders that hand received and sent
// audio to the meter and the spectrum.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <thread>
#include <utility>
#include <vector>

#include <RUZada.h>

#include "audio/Feeders.h"
#include "audio/Level.h"
#include "core/Globals.h"

namespace {

using Samples = std::vector<int16_t>;

void Feed(Samples samples, int16_t gate = 0) { FeedLevelMeter(samples.data(), static_cast<int>(samples.size()), gate); }

Samples Queued()
{
    Samples out(g_FFTFifo.size() / 2);
    g_FFTFifo.read(out.data(), static_cast<int>(out.size() * 2));
    return out;
}

TEST(LevelMeter, ReadsTheRootMeanSquareOfTheLastThousandSamples)
{
    Feed(Samples(1000, 32767));
    EXPECT_DOUBLE_EQ(GetDGLevel(), 1.00);
    // 1000 samples hold exactly 25 periods of 40.
    Samples sine(1000);
    for (int i = 0; i < 1000; ++i)
        sine[i] = static_cast<int16_t>(std::lround(32767 * std::sin(2 * M_PI * i / 40)));
    Feed(sine);
    EXPECT_DOUBLE_EQ(GetDGLevel(), 0.70);
    Feed(Samples(5000, 32767));
    Feed(Samples(999, 0));
    // One full-scale sample left in the window: sqrt(32767^2 / 1000) is 3.16 %.
    EXPECT_EQ(GetLevelPercent(), 3);
    Feed({0});
    EXPECT_DOUBLE_EQ(GetDGLevel(), 0.00);
    // Negative full scale reads above 100 % only by truncation.
    Feed(Samples(1000, -32768));
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

// The gate mutes once the running level exceeds it: 0 never mutes, a negative
// gate mutes everything. The meter measures what arrived, not what the gate left.
TEST(Squelch, ReceivedAudioIsGatedAfterTheSpectrumGotItAndSentAudioNever)
{
    g_FFTFifo.empty();
    Feed(Samples(1000, 0));
    g_bUseFFT = true;
    g_nSquelch = 10;
    Samples block(2000, 5000);
    FeedRecvSamples(block.data(), 2000);
    EXPECT_EQ(Queued(), Samples(2000, 5000));
    // The whole percent first exceeds 10 (reads 11) once sum/1000 >= (11 * 32767 / 100)^2:
    // with the 520th sample of 5000, which is the first one muted.
    Samples expected(2000, 0);
    std::fill_n(expected.begin(), 519, 5000);
    EXPECT_EQ(block, expected);
    EXPECT_EQ(GetLevelPercent(), 15);

    g_nSquelch = -50;
    Samples loud(500, 32767);
    FeedRecvSamples(loud.data(), 0);
    FeedRecvSamples(loud.data(), -5);
    EXPECT_EQ(GetLevelPercent(), 15);
    FeedXmitSamples(loud.data(), 500);
    EXPECT_EQ(loud, Samples(500, 32767));
    EXPECT_EQ(Queued(), loud);
    Samples quiet(100, 1);
    FeedRecvSamples(quiet.data(), 100);
    EXPECT_EQ(quiet, Samples(100, 0));
    EXPECT_EQ(Queued(), Samples(100, 1));

    // Without the spectrum nothing is queued, and the meter still follows.
    g_bUseFFT = false;
    g_nSquelch = 0;
    FeedRecvSamples(loud.data(), 500);
    FeedRecvSamples(loud.data(), 500);
    EXPECT_EQ(g_FFTFifo.size(), 0);
    EXPECT_EQ(loud, Samples(500, 32767));
    EXPECT_EQ(GetLevelPercent(), 100);
}

// An update of the meter's running sum lost to the other feeder would leave it
// off for good: a window filled afterwards would read wrong.
TEST(LevelMeter, StaysConsistentWhenBothFeedersRunAtOnce)
{
    auto feeder = [](int16_t value) {
        Samples block(3250, value);
        for (int round = 0; round < 200; ++round)
            FeedLevelMeter(block.data(), 3250, 0);
    };
    std::thread receive(feeder, 16384), transmit(feeder, 8192);
    receive.join();
    transmit.join();
    Feed(Samples(1000, 16384));
    EXPECT_EQ(GetLevelPercent(), 50);
}

}  // namespace
