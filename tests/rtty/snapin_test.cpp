// DGrtty.so as the module sees it: setup record, what the encoder keeps between
// calls, unshift on space from the settings file or a write, the run-time
// controls, and its keying's spectrum beside fldigi's.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

#include <DGSnapin.h>

#include "RttyChannel.h"
#include "RttyTiming.h"
#include "RttyTransmitter.h"
#include "RttyWav.h"
#include "SignalProbe.h"
#include "SnapinLibrary.h"
#include "SnapinTraffic.h"

namespace {

using namespace rz::rtty::testing;
using rz::rtty::kCharSamples;

constexpr int16_t kSentinel = 0x5A5A;
constexpr int kTwiddleBlock = 8000;

bool Untouched(const std::vector<int16_t>& block, size_t from = 0)
{
    return std::all_of(block.begin() + static_cast<long>(from), block.end(), [](int16_t s) { return s == kSentinel; });
}

// The frequency of a steady tone near `hz` in two spans of `span` samples from
// `from`: the drift of its phase against `hz` from the first span to the second.
double MeasuredHz(const std::vector<int16_t>& audio, size_t from, int span, double hz)
{
    const double turn = 2.0 * std::numbers::pi;
    const auto phase = [&](size_t start) {
        std::complex<double> sum;
        for (size_t i = start; i < start + static_cast<size_t>(span); ++i)
            sum += static_cast<double>(audio[i]) *
                   std::polar(1.0, -turn * hz * static_cast<double>(i) / rz::rtty::kSampleRate);
        return std::arg(sum);
    };
    const double drift = std::remainder(phase(from + static_cast<size_t>(span)) - phase(from), turn);
    return hz + drift / (turn * span) * rz::rtty::kSampleRate;
}

class RttySnapin : public ::testing::Test, protected rz::test::support::SnapinLibrary {
protected:
    RttySnapin() : SnapinLibrary(DGRTTY_PATH) {}

    void SetUp() override
    {
        ASSERT_TRUE(Loaded()) << dlerror();
        init(8000.0);
    }

    std::vector<int16_t> Send(const std::string& text) const { return rz::test::support::SendThrough(*this, text); }

    // Feeds `audio` and a second of silence to the narrow decoder.
    std::string Receive(std::vector<int16_t> audio)
    {
        audio.resize(audio.size() + rz::rtty::kSampleRate);
        return Decode(audio, kDecodeBlock);
    }
};

TEST_F(RttySnapin, FillsTheSetupRecordOnlyWhenItIsWholeSized)
{
    DGSETUP setup{};
    setup.cbSize = DGSETUP_SIZE;
    getSetup(&setup);
    EXPECT_EQ(std::u16string(setup.szName), u"RTTY");
    EXPECT_EQ(setup.qwMode, 32u);
    DGSETUP small{};
    small.cbSize = 100;
    getSetup(&small);
    EXPECT_EQ(small.qwMode, 0u);
    getSetup(nullptr);
}

// The frame's answers to bad arguments are proven with DGpsk's; here, what the
// RTTY codec keeps between calls.
TEST_F(RttySnapin, EncoderNeverWritesPastItsCapacityKeepsTheRestAndIgnoresWhatItCannotSend)
{
    std::vector<int16_t> block(kEncodeCapacity + 16, kSentinel);
    EXPECT_EQ(encodeA(block.data(), 1000, "@*~", 3), 0);
    EXPECT_TRUE(Untouched(block));
    EXPECT_EQ(hasData(), 0);

    EXPECT_EQ(encodeA(block.data(), 100, "RY", 2), 100);
    EXPECT_TRUE(Untouched(block, 100));
    EXPECT_NE(hasData(), 0);
    // No room: the characters wait.
    EXPECT_EQ(encodeA(block.data(), 0, "E", 1), 0);
    EXPECT_EQ(encodeA(nullptr, 500, "EE", 2), 0);
    // What did not fit comes with the next call: lead-in, two letters shifts,
    // R, Y and three E (already in letters).
    const int rest = encodeA(block.data(), kEncodeCapacity, nullptr, 0);
    EXPECT_EQ(100 + rest, rz::rtty::RttyTransmitter::kLeadInSamples + 7 * kCharSamples);
    EXPECT_EQ(encodeA(block.data(), kEncodeCapacity, nullptr, 0), 0);
    // The tail still waits for the first idle; then the text is out.
    EXPECT_NE(hasData(), 0);
    EXPECT_EQ(twiddle(block.data(), kTwiddleBlock), kTwiddleBlock);
    EXPECT_EQ(hasData(), 0);
}

TEST_F(RttySnapin, UnshiftOnSpaceComesFromTheSettingsFileOrARunTimeWrite)
{
    // fldigi sending without unshift on space: a receiver that unshifts on
    // space (the default) misprints figures after a space, one told not to by
    // the settings file or at run time copies it. With its unshift on space,
    // fldigi sends the shifts that either receiver needs.
    const auto recording = [](const char* name) {
        return ReadWav(std::string(RTTY_TEST_DATA) + "/" + name).value_or(std::vector<int16_t>{});
    };
    const std::vector<int16_t> off = recording("fldigi_unshift_off.wav");
    const std::vector<int16_t> on = recording("fldigi_unshift_on.wav");
    const std::string sent = "14.085 MHZ 10 M 5NN 599 73 TU\r\n599 599 5NN 73 73 1 2 ABC 3 QRV\r\n\r\n";
    EXPECT_EQ(Receive(on), sent);
    EXPECT_EQ(Receive(off), "14.085 MHZ 10 M 5NN 599 UE TU\r\n599 TOO TNN 73 UE Q W ABC 3 QRV\r\n\r\n");
    EXPECT_TRUE(Write(DG_KEY_UNSHIFT_ON_SPACE, 0));
    EXPECT_EQ(Receive(off), sent);
    UseSettings("[RTTY]\nUnshiftOnSpace=0\n");
    init(8000.0);
    EXPECT_EQ(Receive(off), sent);
    EXPECT_EQ(Receive(on), sent);
}

TEST_F(RttySnapin, ControlsStartFromTheSettingsFileAndTakeWritesWithinWhatTheModemCanDo)
{
    UseSettings(
        "[RTTY]\nCarrier=2210\nShift=850\nReverse=1\nBaud=75\nStopBits=2\nUnshiftOnSpace=0\nAFC=0\nSquelch=30\n");
    init(8000.0);
    const struct {
        uint32_t key;
        int32_t value;
    } read[] = {
        {DG_KEY_CONTROL, DG_CONTROL_VERSION},
        {DG_KEY_CARRIER, 22100},
        {DG_KEY_SHIFT, 850},
        {DG_KEY_REVERSE, 1},
        {DG_KEY_BAUD, 7500},
        {DG_KEY_STOP_BITS, 4},
        {DG_KEY_UNSHIFT_ON_SPACE, 0},
        {DG_KEY_AFC, 0},
        {DG_KEY_SQUELCH, 30},
        {DG_KEY_IDLE, 1},
        {DG_KEY_WPM, DG_CONTROL_NONE},
    };
    for (const auto& r : read)
        EXPECT_EQ(Read(r.key), r.value) << "key " << r.key;
    // The codec works at those settings: 75 baud, 850 Hz shift, reversed (50
    // baud is proven through dgterm with minimodem, 100 baud by a write below).
    EXPECT_EQ(Receive(Send("RYRY DE DL2XYZ 599")), "RYRY DE DL2XYZ 599");

    const struct {
        uint32_t key;
        int32_t value;
        bool taken;
        int32_t readBack;
    } writes[] = {
        // Both tones stay within 300-3500 Hz.
        {DG_KEY_CARRIER, 999999, true, 30750},
        {DG_KEY_CARRIER, 15000, true, 15000},
        {DG_KEY_SHIFT, 5, true, 50},
        {DG_KEY_SHIFT, 4000, true, 1000},
        {DG_KEY_BAUD, 1, true, 4000},
        {DG_KEY_BAUD, 4500, true, 4500},
        {DG_KEY_STOP_BITS, 9, true, 4},
        {DG_KEY_SQUELCH, 150, true, 100},
        {DG_KEY_AFC, 7, true, 1},
        {DG_KEY_TRACKED, 1, false, 22100},
        {DG_KEY_QUALITY, 1, false, 0},
        {DG_KEY_SUBMODE, 1, false, DG_CONTROL_NONE},
    };
    for (const auto& w : writes) {
        EXPECT_EQ(Write(w.key, w.value), w.taken) << "key " << w.key << " value " << w.value;
        EXPECT_EQ(Read(w.key), w.readBack) << "key " << w.key << " value " << w.value;
    }
    EXPECT_FALSE(Write(DG_CONTROL_KEY_MASK + 1, 1));
    // Selecting the mode starts again from the settings file.
    init(8000.0);
    EXPECT_EQ(Read(DG_KEY_CARRIER), 22100);
}

TEST_F(RttySnapin, ReceiverTellsWhereItListensAndHowWellAndItsSquelchHoldsBackWeakText)
{
    const std::string text = "RYRY DE DL2XYZ 599 RYRY DE DL2XYZ 599";
    // The far station 20 Hz high: the receiver follows it there.
    std::vector<int16_t> clean = TransmitText(text, {1605.0, 1435.0}, 2 * kCharSamples);
    char chars[DG_DECODE_CAPACITY];
    decodeA(clean.data(), static_cast<int>(clean.size()), chars, 0);
    EXPECT_NEAR(Read(DG_KEY_TRACKED), 15200, 50);
    EXPECT_GE(Read(DG_KEY_QUALITY), 80);
    std::vector<int16_t> noise = AddNoise(std::vector<int16_t>(4 * kDecodeBlock, 0), 0.0, 3, 0, 0);
    decodeA(noise.data(), static_cast<int>(noise.size()), chars, 0);
    EXPECT_LE(Read(DG_KEY_QUALITY), 5);
    EXPECT_EQ(Receive({}), text);

    const std::vector<int16_t> weak = AddNoise(TransmitText(text, kDefaultTones, 2 * kCharSamples), 0.0, 4, 8000, 0);
    EXPECT_TRUE(Write(DG_KEY_SQUELCH, 90));
    EXPECT_EQ(Receive(weak), "");
    EXPECT_TRUE(Write(DG_KEY_SQUELCH, 0));
    EXPECT_EQ(Receive(weak), text);
}

TEST_F(RttySnapin, KeyingPutsNoMorePowerOutsideTheChannelThanFldigisWithExactTones)
{
    // The channel: 250 Hz either side of the centre, for 170 Hz shift at 45.45 baud.
    constexpr double kCentreHz = 1500.0;
    constexpr double kHalfWidthHz = 250.0;
    const std::optional<std::vector<int16_t>> fldigi = ReadWav(RTTY_TEST_DATA "/fldigi_4545baud.wav");
    ASSERT_TRUE(fldigi.has_value());
    const double fldigiShare = OutOfChannelShare(*fldigi, kCentreHz, kHalfWidthHz);
    const std::vector<int16_t> ours = Send(std::string(kEveryCharacter) + "14.085 MHZ 10 M 5NN 599 73 TU");
    const double share = OutOfChannelShare(ours, kCentreHz, kHalfWidthHz);
    EXPECT_LE(share, fldigiShare);
    EXPECT_GT(fldigiShare, 0.0);
    // Shaped, the phase still runs on: within a tone a sample strays by rounding
    // only, across a tone change by under a tenth of the amplitude, where the
    // same audio with one sample left out strays by more.
    const double continuous = 0.12 * rz::rtty::RttyTransmitter::kAmplitude;
    EXPECT_LT(LargestStray(ours, kDefaultTones), continuous);
    std::vector<int16_t> jumped(ours.begin(), ours.begin() + 4000);
    jumped.insert(jumped.end(), ours.begin() + 4001, ours.begin() + 8000);
    EXPECT_GT(LargestStray(jumped, kDefaultTones), continuous);
    // And the tones are exact: the lead-in's mark, once the channel filter holds
    // nothing else.
    EXPECT_NEAR(MeasuredHz(ours, 600, 350, kDefaultTones.markHz), kDefaultTones.markHz, 0.01);
}

}  // namespace
