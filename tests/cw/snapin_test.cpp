// DGcw.so as the module sees it: setup record, encoder capacity and queue,
// bad arguments, the settings file and the control keys.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include <DGSnapin.h>

#include "CwChannel.h"
#include "SnapinLibrary.h"

namespace {

using namespace rz::cw::testing;

constexpr int16_t kSentinel = 0x5A5A;
// Senders far from the expected timing are learned within the first words.
constexpr char kWarmUp[] = "VVV VVV ";

class CwSnapin : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dg.Loaded());
        dg.init(8000.0);
    }

    void UseSettings(const std::string& contents)
    {
        dg.UseSettings(contents);
        dg.init(8000.0);
    }

    std::vector<int16_t> Send(const std::string& text)
    {
        std::vector<int16_t> audio;
        std::vector<int16_t> block(kEncodeCapacity);
        for (size_t at = 0; at < text.size(); at += kEncodeBatch) {
            const std::string batch = text.substr(at, kEncodeBatch);
            const int n = dg.encodeA(block.data(), kEncodeCapacity, batch.data(), static_cast<int>(batch.size()));
            audio.insert(audio.end(), block.begin(), block.begin() + n);
        }
        while (dg.hasData() != 0) {
            const int n = dg.twiddle(block.data(), 8000);
            audio.insert(audio.end(), block.begin(), block.begin() + n);
        }
        return audio;
    }

    // Followed by silence long enough for the last character to be printed.
    std::string Receive(std::vector<int16_t> audio)
    {
        audio.resize(audio.size() + 3 * 8000);
        return dg.Decode(audio);
    }

    rz::test::support::SnapinLibrary dg{DGCW_PATH};
};

TEST_F(CwSnapin, EncoderKeepsWhatDoesNotFitAndDropsWhatMorseCannotCarry)
{
    std::vector<int16_t> block(kEncodeCapacity + 16, kSentinel);
    EXPECT_EQ(dg.encodeA(block.data(), 100, "E", 1), 100);
    EXPECT_TRUE(std::all_of(block.begin() + 100, block.end(), [](int16_t s) { return s == kSentinel; }));
    EXPECT_NE(dg.hasData(), 0);
    // E at 20 WPM: a dot and the gap after the character, 4 dots of 480 samples.
    EXPECT_EQ(100 + dg.encodeA(block.data(), kEncodeCapacity, nullptr, 0), 4 * 480);
    EXPECT_EQ(dg.hasData(), 0);
    EXPECT_EQ(dg.encodeA(block.data(), kEncodeCapacity, "#%*~\x01", 5), 0);
    EXPECT_EQ(dg.encodeA(nullptr, 0, "E", 1), 0);
    EXPECT_EQ(dg.encodeA(block.data(), -5, nullptr, 0), 0);
    // Idle is silence.
    std::fill(block.begin(), block.end(), kSentinel);
    EXPECT_EQ(dg.encodeA(block.data(), kEncodeCapacity, nullptr, 0), 4 * 480);
    EXPECT_EQ(dg.twiddle(block.data(), 1000), 1000);
    EXPECT_TRUE(std::all_of(block.begin(), block.begin() + 1000, [](int16_t s) { return s == 0; }));
    EXPECT_EQ(Receive(Send("cq de dl2xyz#<AR")), "CQ DE DL2XYZ");
}

TEST_F(CwSnapin, DecoderTakesOddCallsAndHoldsWhatDoesNotFit)
{
    std::vector<int16_t> audio = Send("PARIS PARIS");
    audio.resize(audio.size() + 3 * 8000);
    char chars[DG_DECODE_CAPACITY] = {};
    EXPECT_EQ(dg.decodeA(nullptr, kDecodeBlock, chars, DG_DECODE_CAPACITY), 0);
    EXPECT_EQ(dg.decodeA(audio.data(), -20, chars, DG_DECODE_CAPACITY), 0);
    EXPECT_EQ(dg.decodeA(audio.data(), static_cast<int>(audio.size()), chars, 0), 0);
    EXPECT_EQ(dg.decodeA(nullptr, 0, chars, 4), 4);
    EXPECT_EQ(std::string(chars, 4), "PARI");
    EXPECT_EQ(dg.decodeA(nullptr, 0, chars, DG_DECODE_CAPACITY), 7);
    EXPECT_EQ(std::string(chars, 7), "S PARIS");
}

TEST_F(CwSnapin, SettingsAndWhatItHearsAreReadThroughTheKeys)
{
    UseSettings("[CW]\nCarrier=1200\nWPM=30\nFarnsworth=15\nAFC=0\nSquelch=50\n");
    EXPECT_EQ(dg.Read(DG_KEY_CARRIER), 12000);
    EXPECT_EQ(dg.Read(DG_KEY_WPM), 30);
    EXPECT_EQ(dg.Read(DG_KEY_FARNSWORTH), 15);
    EXPECT_EQ(dg.Read(DG_KEY_AFC), 0);
    EXPECT_EQ(dg.Read(DG_KEY_SQUELCH), 50);
    // The receiver reports what it hears: the speed of the characters, where it listens, the quality.
    const std::string text = "CQ DE DL2XYZ";
    EXPECT_THAT(Receive(Send(kWarmUp + text)), ::testing::EndsWith(" " + text));
    EXPECT_NEAR(dg.Read(DG_KEY_RX_WPM), 30, 2);
    EXPECT_EQ(dg.Read(DG_KEY_TRACKED), 12000);
    EXPECT_GT(dg.Read(DG_KEY_QUALITY), 50);
    dg.init(8000.0);
    dg.Write(DG_KEY_AFC, 1);
    EXPECT_THAT(Receive(AddNoise(KeyText(kWarmUp + text, 30, 0, 1260.0), 0.0, 4, 8000, 0, kKeyDownPower)),
                ::testing::EndsWith(" " + text));
    EXPECT_NEAR(dg.Read(DG_KEY_TRACKED), 12600, 20);

    UseSettings("[CW]\nCarrier=100\nWPM=99\nFarnsworth=40\n");
    EXPECT_EQ(dg.Read(DG_KEY_CARRIER), 7000);
    EXPECT_EQ(dg.Read(DG_KEY_WPM), 20);
    EXPECT_EQ(dg.Read(DG_KEY_FARNSWORTH), 0);
}

TEST_F(CwSnapin, NamesItselfAndTakesTheControlKeys)
{
    DGSETUP setup{};
    setup.cbSize = DGSETUP_SIZE;
    dg.getSetup(&setup);
    EXPECT_EQ(std::u16string(setup.szName), u"CW");
    EXPECT_EQ(setup.qwMode, 16u);
    EXPECT_EQ(dg.command(DG_CONTROL_READ | DG_KEY_CONTROL), static_cast<uint32_t>(DG_CONTROL_VERSION));
    const struct {
        int key;
        uint32_t written;
        int taken;
        int32_t readBack;
    } cases[] = {
        {DG_KEY_CARRIER, 8505, 1, 8505}, {DG_KEY_CARRIER, 50000, 1, 35000},
        {DG_KEY_WPM, 35, 1, 35},         {DG_KEY_WPM, 200, 1, 50},
        {DG_KEY_FARNSWORTH, 12, 1, 12},  {DG_KEY_FARNSWORTH, 90, 1, 50},
        {DG_KEY_AFC, 0, 1, 0},           {DG_KEY_AFC, 7, 0, 0},
        {DG_KEY_SQUELCH, 150, 1, 100},   {DG_KEY_RX_WPM, 30, 0, 20},
        {DG_KEY_QUALITY, 50, 0, 0},      {DG_KEY_TRACKED, 1, 0, 7000},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(dg.control(nullptr, static_cast<uint32_t>(c.key), c.written), c.taken) << "key " << c.key;
        EXPECT_EQ(dg.Read(c.key), c.readBack) << "key " << c.key;
    }
    EXPECT_EQ(dg.Read(DG_KEY_REVERSE), DG_CONTROL_NONE);
    EXPECT_EQ(dg.control(nullptr, DG_KEY_BAUD, 4545), 0);
}

}  // namespace
