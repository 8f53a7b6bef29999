// The transmitter and receiver together: exact copy in every submode and in
// blocks of any size, what the receiver survives (noise, mistuning within its
// range, a sender's clock off, a level step), the sideband of QPSK, and what
// must print nothing: silence, noise of any level, clipping, an RTTY signal.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "PskChannel.h"
#include "RttyChannel.h"

namespace {

using namespace rz::psk::testing;
using rz::psk::ReceiverSettings;
using rz::rtty::testing::AddNoise;
using rz::rtty::testing::CharacterErrorRate;
using Audio = std::vector<int16_t>;

constexpr int kMargin = 8000;

int16_t Clamped(double value) { return static_cast<int16_t>(std::clamp(std::lround(value), -32768L, 32767L)); }

Audio Noise(size_t length, double rms, uint64_t seed)
{
    std::mt19937_64 random(seed);
    std::normal_distribution<double> gauss(0.0, rms);
    Audio noise(length);
    for (int16_t& s : noise)
        s = Clamped(gauss(random));
    return noise;
}

// The same audio from a sender whose clock runs `ratio` fast.
Audio Resampled(const Audio& audio, double ratio)
{
    Audio fast;
    for (double at = 0.0; at + 1.0 < static_cast<double>(audio.size()); at += ratio) {
        const auto i = static_cast<size_t>(at);
        const double part = at - static_cast<double>(i);
        fast.push_back(Clamped(audio[i] * (1.0 - part) + audio[i + 1] * part));
    }
    return fast;
}

TEST(PskModem, EverySubmodeCopiesExactlyInBlocksOfAnySize)
{
    for (DGPskSubmode submode : {DG_PSK_BPSK31, DG_PSK_BPSK63, DG_PSK_BPSK125, DG_PSK_QPSK31, DG_PSK_QPSK63}) {
        // Two overs back to back: the second's preamble follows the first's postamble.
        const Audio over = TransmitText(kSampleText, submode);
        Audio audio = over;
        audio.insert(audio.end(), over.begin(), over.end());
        EXPECT_EQ(ReceiveText(audio, submode), std::string(kSampleText) + kSampleText)
            << rz::psk::SubmodeOf(submode).name;
    }
    const Audio audio = TransmitText(kSampleText, DG_PSK_BPSK63);
    for (int block : {1, 7, 65536})
        EXPECT_EQ(ReceiveText(audio, DG_PSK_BPSK63, {}, block), kSampleText) << "blocks of " << block;
}

TEST(PskModem, CopiesThroughImpairedChannels)
{
    const double kOneCharacter = 1.0 / static_cast<double>(std::string(kSampleText).size());
    const struct {
        const char* channel;
        DGPskSubmode submode;
        double offsetHz;
        double snrDb;
        double ratio;
        double errorRate;
    } cases[] = {
        {"BPSK31, noise at -10 dB", DG_PSK_BPSK31, 0.0, -10.0, 1.0, 0.0},
        {"BPSK31, sender 200 ppm fast", DG_PSK_BPSK31, 0.0, 0.0, 1.0002, 0.0},
        // Off tune, the search and the pull-in take most of the preamble: the
        // first character may go.
        {"BPSK31, 15 Hz high", DG_PSK_BPSK31, 15.0, -6.0, 1.0, kOneCharacter},
        {"BPSK31, 15 Hz low", DG_PSK_BPSK31, -15.0, -6.0, 1.0, kOneCharacter},
        {"BPSK63, 30 Hz high", DG_PSK_BPSK63, 30.0, -6.0, 1.0, kOneCharacter},
        {"BPSK125, 60 Hz low", DG_PSK_BPSK125, -60.0, 0.0, 1.0, kOneCharacter},
        {"QPSK31, noise at -12 dB, 10 Hz high", DG_PSK_QPSK31, 10.0, -12.0, 1.0, 2 * kOneCharacter},
        {"QPSK63, 20 Hz low", DG_PSK_QPSK63, -20.0, -6.0, 1.0, kOneCharacter},
    };
    for (const auto& c : cases) {
        const Audio sent = Resampled(TransmitText(kSampleText, c.submode, 1000.0 + c.offsetHz), c.ratio);
        const Audio heard = AddNoise(sent, c.snrDb, 7, kMargin, kMargin);
        EXPECT_LE(CharacterErrorRate(kSampleText, ReceiveText(heard, c.submode)), c.errorRate) << c.channel;
    }
}

// The sideband of QPSK must match the sender's; without frequency control the
// receiver stays on its carrier.
TEST(PskModem, ReceiverSettingsTakeEffect)
{
    const Audio lower = TransmitText(kSampleText, DG_PSK_QPSK31, 1000.0, true);
    EXPECT_EQ(ReceiveText(lower, DG_PSK_QPSK31, {.lsb = true}), kSampleText);
    EXPECT_GT(CharacterErrorRate(kSampleText, ReceiveText(lower, DG_PSK_QPSK31)), 0.5);
    const ReceiverSettings fixed{.afc = false};
    EXPECT_EQ(ReceiveText(TransmitText(kSampleText, DG_PSK_BPSK31, 1000.5), DG_PSK_BPSK31, fixed), kSampleText);
    EXPECT_EQ(ReceiveText(TransmitText(kSampleText, DG_PSK_BPSK31, 1010.0), DG_PSK_BPSK31, fixed), "");
}

TEST(PskModem, NothingButPskPrints)
{
    const size_t length = 30 * rz::psk::kSampleRate;
    const std::string rttyText(120, 'R');
    const rz::rtty::Tones onCarrier{1085.0, 915.0};
    const rz::rtty::Tones markOnCarrier{1000.0, 830.0};
    const struct {
        const char* input;
        Audio audio;
    } cases[] = {
        {"silence", Audio(length, 0)},
        {"full scale, steady", Audio(length, 32767)},
        {"noise clipped at full scale", Noise(length, 30000.0, 11)},
        {"quiet noise", Noise(length, 20.0, 12)},
        {"noise", Noise(length, 3000.0, 13)},
        {"RTTY centred on the carrier", rz::rtty::testing::TransmitText(rttyText + " RYRY", onCarrier, 0)},
        {"RTTY mark on the carrier", rz::rtty::testing::TransmitText(rttyText + " RYRY", markOnCarrier, 0)},
    };
    for (const auto& c : cases)
        for (DGPskSubmode submode : {DG_PSK_BPSK31, DG_PSK_QPSK31, DG_PSK_BPSK125})
            EXPECT_EQ(ReceiveText(c.audio, submode), "") << c.input << ", " << rz::psk::SubmodeOf(submode).name;
}

}  // namespace
