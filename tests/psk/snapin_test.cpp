// DGpsk.so as the module and a host see it: the narrow
// encoder and decoder with the module's capacity and odd arguments, the
// settings file, and the run-time control keys.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <DGSnapin.h>

#include "PskChannel.h"
#include "PskTransmitter.h"
#include "RttyChannel.h"
#include "SnapinLibrary.h"
#include "SnapinTraffic.h"

namespace {

using namespace rz::psk::testing;
using Audio = std::vector<int16_t>;

constexpr int16_t kSentinel = 0x5A5A;
constexpr int kSecond = rz::psk::kSampleRate;

class PskSnapin : public ::testing::Test, protected rz::test::support::SnapinLibrary {
protected:
    PskSnapin() : SnapinLibrary(DGPSK_PATH) {}

    void SetUp() override
    {
        ASSERT_TRUE(Loaded());
        init(8000.0);
    }

    Audio Send(const std::string& text) const { return rz::test::support::SendThrough(*this, text); }

    // The decisions wait for the symbols after: `silence` seconds of it follow.
    std::string Receive(Audio audio, int silence = 6)
    {
        audio.resize(audio.size() + static_cast<size_t>(silence * kSecond));
        return Decode(audio);
    }
};

TEST_F(PskSnapin, EncoderKeepsToItsCapacityAndToVaricode)
{
    Audio block(2000, kSentinel);
    EXPECT_EQ(encodeA(block.data(), 1000, "", 0), 0);
    EXPECT_EQ(encodeA(block.data(), 1000, "E", -3), 0);
    const char unsendable[] = {'\xe9', '\x80', '\xff'};
    EXPECT_EQ(encodeA(block.data(), 1000, unsendable, 3), 0);
    EXPECT_EQ(twiddle(block.data(), 0), 0);
    EXPECT_EQ(twiddle(nullptr, 1000), 0);
    EXPECT_TRUE(std::all_of(block.begin(), block.end(), [](int16_t s) { return s == kSentinel; }));
    EXPECT_EQ(hasData(), 0);

    // Less room than one character's audio: the rest waits for the next calls.
    EXPECT_EQ(encodeA(block.data(), 100, "K\xe9", 2), 100);
    EXPECT_EQ(block[100], kSentinel);
    EXPECT_EQ(encodeA(nullptr, 500, "Q", 1), 0);
    EXPECT_EQ(encodeA(block.data(), 0, "7", 1), 0);
    EXPECT_EQ(encodeA(block.data(), -5, "3", 1), 0);
    EXPECT_NE(hasData(), 0);
    Audio audio(block.begin(), block.begin() + 100);
    const Audio rest = Send("");
    audio.insert(audio.end(), rest.begin(), rest.end());
    EXPECT_EQ(Receive(audio), "KQ73");
}

TEST_F(PskSnapin, DecoderTakesOddCallsAndHoldsWhatDoesNotFit)
{
    const Audio audio = Send("RYRY 73");
    char chars[DG_DECODE_CAPACITY] = {};
    EXPECT_EQ(decodeA(nullptr, kDecodeBlock, chars, DG_DECODE_CAPACITY), 0);
    EXPECT_EQ(decodeA(audio.data(), 0, chars, DG_DECODE_CAPACITY), 0);
    EXPECT_EQ(decodeA(audio.data(), -20, chars, DG_DECODE_CAPACITY), 0);
    Audio all = audio;
    all.resize(all.size() + 6 * kSecond);
    EXPECT_EQ(decodeA(all.data(), static_cast<int>(all.size()), chars, 0), 0);
    EXPECT_EQ(decodeA(nullptr, 0, chars, 3), 3);
    EXPECT_EQ(std::string(chars, 3), "RYR");
    EXPECT_EQ(decodeA(nullptr, 0, chars, DG_DECODE_CAPACITY), 4);
    EXPECT_EQ(std::string(chars, 4), "Y 73");
}

TEST_F(PskSnapin, SettingsChooseCarrierSubmodeSidebandAndFrequencyControl)
{
    const struct {
        const char* settings;
        int32_t carrierTenths;
        int32_t submode;
        int32_t lsb;
        int32_t afc;
    } cases[] = {
        {"", 10000, DG_PSK_BPSK31, 0, 1},
        {"[PSK]\nCarrier=1500\nSubmode=qpsk63\nLSB=1\nAFC=0\n", 15000, DG_PSK_QPSK63, 1, 0},
        {"[psk]\ncarrier=5000\nsubmode=PSK31\n", 10000, DG_PSK_BPSK31, 0, 1},
    };
    for (const auto& c : cases) {
        UseSettings(c.settings);
        init(8000.0);
        EXPECT_EQ(Read(DG_KEY_CARRIER), c.carrierTenths) << c.settings;
        EXPECT_EQ(Read(DG_KEY_SUBMODE), c.submode) << c.settings;
        EXPECT_EQ(Read(DG_KEY_REVERSE), c.lsb) << c.settings;
        EXPECT_EQ(Read(DG_KEY_AFC), c.afc) << c.settings;
        EXPECT_EQ(Receive(Send("CQ de DL2XYZ")), "CQ de DL2XYZ") << c.settings;
    }
}

TEST_F(PskSnapin, ControlKeysReadWriteAndRefuse)
{
    EXPECT_EQ(Read(DG_KEY_CONTROL), DG_CONTROL_VERSION);
    EXPECT_EQ(Read(DG_KEY_BAUD), 3125);
    EXPECT_EQ(Read(DG_KEY_SQUELCH), 40);
    const struct {
        int key;
        int32_t value;
        bool taken;
        int32_t readBack;
    } writes[] = {
        {DG_KEY_CARRIER, 15005, 1, 15005},
        {DG_KEY_CARRIER, 50000, 1, 38000},
        {DG_KEY_CARRIER, -7, 1, 2000},
        {DG_KEY_SUBMODE, DG_PSK_QPSK31, 1, DG_PSK_QPSK31},
        {DG_KEY_SUBMODE, 9, 0, DG_PSK_QPSK31},
        {DG_KEY_REVERSE, 1, 1, 1},
        {DG_KEY_AFC, 0, 1, 0},
        {DG_KEY_SQUELCH, 250, 1, 100},
        {DG_KEY_BAUD, 6250, 0, 3125},
        {DG_KEY_QUALITY, 50, 0, 0},
        {DG_KEY_CONTROL, 2, 0, DG_CONTROL_VERSION},
        {DG_KEY_WPM, 20, 0, DG_CONTROL_NONE},
    };
    for (const auto& w : writes) {
        EXPECT_EQ(Write(w.key, w.value), w.taken) << "key " << w.key << " = " << w.value;
        EXPECT_EQ(Read(w.key), w.readBack) << "key " << w.key;
    }
    EXPECT_FALSE(Write(DG_KEY_TRACKED, 12000));
    EXPECT_EQ(control(nullptr, 0x10000u | DG_KEY_CARRIER, 10000), 0);
}

TEST_F(PskSnapin, TrackedFrequencyAndQualityFollowTheSignal)
{
    ASSERT_TRUE(Write(DG_KEY_CARRIER, 15000));
    const Audio audio = rz::rtty::testing::AddNoise(TransmitText(kSampleText, DG_PSK_BPSK31, 1510.0), -3.0, 5, 0, 0);
    const size_t half = audio.size() / 2;
    Receive(Audio(audio.begin(), audio.begin() + static_cast<long>(half)), 0);
    EXPECT_NEAR(Read(DG_KEY_TRACKED), 15100, 5);
    EXPECT_GT(Read(DG_KEY_QUALITY), 80);
    Receive({}, 4);
    EXPECT_EQ(Read(DG_KEY_QUALITY), 0);
}

}  // namespace
