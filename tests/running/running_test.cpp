#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "audio/Resample.h"
#include "audio/SendQueue.h"

namespace {

TEST(Resample, DecimatePicksEverySixthSampleFromTheChunkStart)
{
    std::vector<int16_t> card(1500);
    std::iota(card.begin(), card.end(), int16_t{0});
    std::vector<int16_t> block(260, -1);
    EXPECT_EQ(Decimate6(block.data(), card.data(), 1500), 250);
    for (int k = 0; k < 250; ++k)
        ASSERT_EQ(block[k], 6 * k);
    EXPECT_EQ(block[250], -1);
    // A partial last group yields nothing: 11 samples give one.
    EXPECT_EQ(Decimate6(block.data(), card.data() + 3, 11), 1);
    EXPECT_EQ(block[0], 3);
    EXPECT_EQ(Decimate6(block.data(), card.data(), 0), 0);
}

TEST(Resample, RepeatWritesEachSampleSixTimes)
{
    const std::vector<int16_t> source = {5, -7, 32767};
    std::vector<int16_t> card(20, 0);
    EXPECT_EQ(Repeat6(card.data(), source.data(), 3), 18);
    for (int i = 0; i < 18; ++i)
        ASSERT_EQ(card[i], source[i / 6]) << i;
    EXPECT_EQ(card[18], 0);
    std::vector<int16_t> hundred(100, 1);
    std::vector<int16_t> out(600);
    EXPECT_EQ(Repeat6(out.data(), hundred.data(), 100), 600);
}

TEST(SendQueue, TakesFromTheFrontInOrderAndKeepsItsSizeVisible)
{
    CSendQueue queue;
    EXPECT_TRUE(queue.Empty());
    for (WORD unit = 1; unit <= 40; ++unit)
        queue.Append(unit);
    EXPECT_EQ(queue.Size(), 40u);
    WORD batch[19] = {};
    std::vector<int> sizes;
    std::vector<WORD> taken;
    while (!queue.Empty()) {
        const int count = queue.TakeFront(batch, 19);
        sizes.push_back(count);
        taken.insert(taken.end(), batch, batch + count);
    }
    EXPECT_EQ(sizes, (std::vector<int>{19, 19, 2}));
    std::vector<WORD> expected(40);
    std::iota(expected.begin(), expected.end(), WORD{1});
    EXPECT_EQ(taken, expected);
    EXPECT_EQ(queue.TakeFront(batch, 19), 0);
}

TEST(SendQueue, Windows1252MapsTheHighControlsAndKeepsLatin1)
{
    EXPECT_EQ(Windows1252ToUnit(0x80), u'\u20AC');
    EXPECT_EQ(Windows1252ToUnit(0x8A), u'\u0160');
    EXPECT_EQ(Windows1252ToUnit(0x9F), u'\u0178');
    // Undefined in the code page: the value itself.
    EXPECT_EQ(Windows1252ToUnit(0x81), u'\u0081');
    EXPECT_EQ(Windows1252ToUnit(0x9D), u'\u009D');
    EXPECT_EQ(Windows1252ToUnit(0x7F), u'\u007F');
    EXPECT_EQ(Windows1252ToUnit(0xA0), u'\u00A0');
    EXPECT_EQ(Windows1252ToUnit(0xE9), u'\u00E9');
    EXPECT_EQ(Windows1252ToUnit(0x00), u'\0');
}

}  // namespace
