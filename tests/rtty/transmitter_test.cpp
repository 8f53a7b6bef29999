// The transmitter: character framing, continuous phase however the calls cut the
// audio, idle and the start of an over.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fsk_oscillator.h"
#include "rtty_channel.h"
#include "rtty_timing.h"
#include "rtty_transmitter.h"
#include "tone_probe.h"

namespace {

using rz::rtty::kCharSamples;
using rz::rtty::kSamplesPerBit;
using rz::rtty::RttyTransmitter;
using rz::rtty::testing::HoldsMark;
using rz::rtty::testing::kDefaultTones;
using rz::rtty::testing::LargestStray;

// Within a tone a sample strays by rounding only, across a tone change with
// continuous phase by under a tenth of the amplitude; a phase jump of a fifth of
// a radian strays by more.
constexpr double kContinuousStray = 0.12 * rz::rtty::FskOscillator::kAmplitude;

std::vector<int16_t> RenderAll(RttyTransmitter& transmitter)
{
    std::vector<int16_t> audio(200000);
    audio.resize(static_cast<size_t>(transmitter.Render(audio.data(), static_cast<int>(audio.size()))));
    return audio;
}

void QueueText(RttyTransmitter& transmitter, const std::string& text)
{
    for (char c : text)
        transmitter.QueueChar(static_cast<unsigned char>(c));
}

// Mark (true) or space per sample stretch: `count` stretches of `length` from `from`.
std::vector<bool> Tones(const std::vector<int16_t>& audio, size_t from, int length, int count)
{
    std::vector<bool> marks;
    for (int i = 0; i < count; ++i)
        marks.push_back(HoldsMark(audio.data() + from + static_cast<size_t>(i * length), length, kDefaultTones));
    return marks;
}

TEST(RttyTransmitter, FramesCharactersAndIdleAsStartFiveDataBitsLeastFirstAndOneAndAHalfStop)
{
    const std::vector<bool> lettersShift{false, true, true, true, true, true};
    RttyTransmitter transmitter(kDefaultTones);
    QueueText(transmitter, "R");  // letters shift 11111, then R = 01010
    const std::vector<int16_t> audio = RenderAll(transmitter);
    ASSERT_EQ(audio.size(), 2u * kCharSamples);
    EXPECT_EQ(Tones(audio, 0, kSamplesPerBit, 6), lettersShift);
    EXPECT_EQ(Tones(audio, kCharSamples, kSamplesPerBit, 6),
              (std::vector<bool>{false, false, true, false, true, false}));
    // The stop holds mark for 1.5 bits, in halves of a bit.
    EXPECT_EQ(Tones(audio, kCharSamples + 6 * kSamplesPerBit, kSamplesPerBit / 2, 3),
              (std::vector<bool>{true, true, true}));

    // Idle is letters shifts, and is no data.
    std::vector<int16_t> idle(2 * kCharSamples + 100);
    EXPECT_EQ(transmitter.RenderIdle(idle.data(), static_cast<int>(idle.size())), static_cast<int>(idle.size()));
    EXPECT_FALSE(transmitter.HasData());
    EXPECT_EQ(Tones(idle, kCharSamples, kSamplesPerBit, 6), lettersShift);
    EXPECT_EQ(transmitter.RenderIdle(idle.data(), 0), 0);
}

TEST(RttyTransmitter, AudioIsTheSameHoweverTheCallsCutIt)
{
    const std::string text = "CQ 73 DE TEST\r\n";
    RttyTransmitter whole(kDefaultTones);
    whole.BeginOver();
    QueueText(whole, text);
    std::vector<int16_t> expected = RenderAll(whole);
    expected.resize(expected.size() + 5000);
    whole.RenderIdle(expected.data() + expected.size() - 5000, 5000);

    RttyTransmitter pieces(kDefaultTones);
    pieces.BeginOver();
    QueueText(pieces, text);
    std::vector<int16_t> audio;
    for (int capacity : {1, 175, 176, 177, 999, 1320, 7}) {
        std::vector<int16_t> block(static_cast<size_t>(capacity));
        audio.insert(audio.end(), block.begin(), block.begin() + pieces.Render(block.data(), capacity));
    }
    while (pieces.HasData()) {
        std::vector<int16_t> block(3000);
        audio.insert(audio.end(), block.begin(), block.begin() + pieces.Render(block.data(), 3000));
    }
    for (int wanted : {1, 2000, 2999}) {
        std::vector<int16_t> block(static_cast<size_t>(wanted));
        ASSERT_EQ(pieces.RenderIdle(block.data(), wanted), wanted);
        audio.insert(audio.end(), block.begin(), block.end());
    }
    EXPECT_EQ(audio, expected);
}

TEST(RttyTransmitter, PhaseRunsOnAcrossToneChangesIdleAndCalls)
{
    RttyTransmitter transmitter(kDefaultTones);
    std::vector<int16_t> audio;
    const auto append = [&audio](const std::vector<int16_t>& block, int count) {
        audio.insert(audio.end(), block.begin(), block.begin() + count);
    };
    std::vector<int16_t> block(8000);
    append(block, transmitter.RenderIdle(block.data(), 3333));
    QueueText(transmitter, "RYRY 12345");
    append(block, transmitter.Render(block.data(), 4321));
    append(block, transmitter.RenderIdle(block.data(), 8000));
    QueueText(transmitter, "?");
    append(block, transmitter.Render(block.data(), 8000));
    append(block, transmitter.RenderIdle(block.data(), 100));
    EXPECT_LT(LargestStray(audio, kDefaultTones), kContinuousStray);

    // The probe does see a jump: the same audio with one sample left out.
    std::vector<int16_t> jumped(audio.begin(), audio.begin() + 4000);
    jumped.insert(jumped.end(), audio.begin() + 4001, audio.begin() + 8000);
    EXPECT_GT(LargestStray(jumped, kDefaultTones), kContinuousStray);
}

TEST(RttyTransmitter, AnOverStartsWithMarkAndTwoLettersShiftsAndDropsIdleButNotCharacters)
{
    constexpr int kLeadInBits = RttyTransmitter::kLeadInSamples / kSamplesPerBit;
    RttyTransmitter transmitter(kDefaultTones);
    std::vector<int16_t> block(500);
    transmitter.RenderIdle(block.data(), 500);
    transmitter.BeginOver();
    QueueText(transmitter, "E");
    const std::vector<int16_t> audio = RenderAll(transmitter);
    ASSERT_EQ(audio.size(), static_cast<size_t>(RttyTransmitter::kLeadInSamples + 3 * kCharSamples));
    EXPECT_EQ(Tones(audio, 0, kSamplesPerBit, kLeadInBits), std::vector<bool>(kLeadInBits, true));
    // The shifts put the receiver in letters: E follows without another.
    EXPECT_EQ(rz::rtty::testing::ReceiveText(audio), "E");

    QueueText(transmitter, "K");
    transmitter.Render(block.data(), 500);
    transmitter.BeginOver();
    EXPECT_EQ(RenderAll(transmitter).size(), static_cast<size_t>(kCharSamples - 500));
}

TEST(RttyTransmitter, RefusesCharactersBeyondTenMinutesOfAudio)
{
    RttyTransmitter transmitter(kDefaultTones);
    size_t accepted = 0;
    while (transmitter.QueueChar(U'E'))
        ++accepted;
    EXPECT_GE(accepted * kCharSamples + kCharSamples,
              static_cast<size_t>(RttyTransmitter::kMaxQueuedSamples) - 2 * kCharSamples);
    EXPECT_LE(accepted * kCharSamples, static_cast<size_t>(RttyTransmitter::kMaxQueuedSamples));
}

}  // namespace
