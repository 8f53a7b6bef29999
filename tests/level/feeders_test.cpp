#include <gtest/gtest.h>

#include <vector>

#include "audio/Feeders.h"
#include "audio/Level.h"
#include "core/Globals.h"

namespace {

class FeedersTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_FFTFifo.empty();
        g_nSquelch = 0;
        std::vector<int16_t> silence(1000, 0);
        FeedXmitSamples(silence.data(), 1000);
        g_FFTFifo.empty();
    }
    std::vector<int16_t> Queued()
    {
        std::vector<int16_t> out(g_FFTFifo.size() / 2);
        g_FFTFifo.read(out.data(), static_cast<int>(out.size() * 2));
        return out;
    }
};

TEST_F(FeedersTest, SpectrumGetsReceivedAudioAsItArrivedWhileTheDecoderGetsItGated)
{
    g_bUseFFT = true;
    g_nSquelch = 10;
    std::vector<int16_t> block(3250, 5000);
    FeedRecvSamples(block.data(), 3250);
    EXPECT_EQ(Queued(), std::vector<int16_t>(3250, 5000));
    EXPECT_EQ(block.back(), 0);
    EXPECT_EQ(block.front(), 5000);
    EXPECT_EQ(GetLevelPercent(), 15);
}

TEST_F(FeedersTest, CountsBelowOneTouchNothingAndTransmitAudioIsNeverGated)
{
    g_bUseFFT = true;
    g_nSquelch = -50;
    std::vector<int16_t> block(500, 32767);
    FeedRecvSamples(block.data(), 0);
    FeedRecvSamples(block.data(), -5);
    FeedXmitSamples(block.data(), -1);
    EXPECT_EQ(g_FFTFifo.size(), 0);
    EXPECT_EQ(GetLevelPercent(), 0);
    FeedXmitSamples(block.data(), 500);
    EXPECT_EQ(block, std::vector<int16_t>(500, 32767));
    EXPECT_EQ(Queued(), block);

    // Without the spectrum nothing is queued, and the meter still follows.
    g_bUseFFT = false;
    g_nSquelch = 0;
    FeedRecvSamples(block.data(), 500);
    EXPECT_EQ(g_FFTFifo.size(), 0);
    EXPECT_EQ(GetLevelPercent(), 100);
}

}  // namespace
