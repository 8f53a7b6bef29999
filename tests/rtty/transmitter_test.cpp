// The transmitter: character framing at any baud, the same audio however the
// calls cut it, idle, and an over begun mid-character.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "RttyChannel.h"
#include "RttyTiming.h"
#include "RttyTransmitter.h"
#include "SignalProbe.h"

namespace {

using rz::rtty::BitTiming;
using rz::rtty::kCharSamples;
using rz::rtty::kSamplesPerBit;
using rz::rtty::RttyTransmitter;
using rz::rtty::testing::HoldsMark;
using rz::rtty::testing::kDefaultTones;
using Audio = std::vector<int16_t>;

Audio RenderAll(RttyTransmitter& transmitter)
{
    Audio audio(200000);
    audio.resize(static_cast<size_t>(transmitter.Render(audio.data(), static_cast<int>(audio.size()))));
    return audio;
}

Audio RenderIdle(RttyTransmitter& transmitter, int wanted)
{
    Audio audio(static_cast<size_t>(wanted));
    audio.resize(static_cast<size_t>(transmitter.RenderIdle(audio.data(), wanted)));
    return audio;
}

void QueueText(RttyTransmitter& transmitter, const std::string& text)
{
    for (char c : text)
        transmitter.QueueChar(static_cast<unsigned char>(c));
}

// Mark (true) or space for `count` bits of `bitSamples` from `from`, each judged
// over its middle half (the keying's edges are shaped).
std::vector<bool> Bits(const Audio& audio, double from, double bitSamples, int count)
{
    std::vector<bool> marks;
    for (int i = 0; i < count; ++i) {
        const auto start = static_cast<size_t>(std::lround(from + (i + 0.25) * bitSamples));
        marks.push_back(HoldsMark(audio.data() + start, static_cast<int>(bitSamples / 2), kDefaultTones));
    }
    return marks;
}

TEST(RttyTransmitter, FramesCharactersAsStartFiveDataBitsLeastFirstAndStopAtAnyBaud)
{
    const std::vector<bool> lettersShift{false, true, true, true, true, true, true};
    const std::vector<bool> r{false, false, true, false, true, false, true};  // R = 01010
    for (const BitTiming timing : {BitTiming{}, BitTiming{8000.0 / 45.0, 3}, BitTiming{160.0, 4}, BitTiming{80.0, 2}}) {
        RttyTransmitter transmitter(kDefaultTones, timing);
        transmitter.SetIdle(false);
        QueueText(transmitter, "RR");  // a letters shift, R, R
        Audio audio = RenderAll(transmitter);
        // Characters follow an exact clock, however many samples a bit takes.
        EXPECT_EQ(audio.size(), static_cast<size_t>(std::lround(3 * timing.CharSamples())));
        const Audio tail = RenderIdle(transmitter, RttyTransmitter::kTailSamples);
        EXPECT_EQ(tail.size(), static_cast<size_t>(RttyTransmitter::kTailSamples));
        audio.insert(audio.end(), tail.begin(), tail.end());
        const double delay = transmitter.Delay();
        EXPECT_EQ(Bits(audio, delay, timing.bitSamples, 7), lettersShift) << timing.bitSamples;
        EXPECT_EQ(Bits(audio, delay + 2 * timing.CharSamples(), timing.bitSamples, 7), r) << timing.bitSamples;
    }
}

TEST(RttyTransmitter, AudioIsTheSameHoweverTheCallsCutIt)
{
    const std::string text = "CQ 73 DE TEST\r\n";
    RttyTransmitter whole(kDefaultTones);
    whole.BeginOver();
    QueueText(whole, text);
    Audio expected = RenderAll(whole);
    const Audio wholeIdle = RenderIdle(whole, 5000);
    expected.insert(expected.end(), wholeIdle.begin(), wholeIdle.end());

    RttyTransmitter pieces(kDefaultTones);
    pieces.BeginOver();
    QueueText(pieces, text);
    Audio audio;
    for (int capacity : {1, 175, 176, 177, 999, 1320, 7, 200000}) {
        Audio block(static_cast<size_t>(capacity));
        audio.insert(audio.end(), block.begin(), block.begin() + pieces.Render(block.data(), capacity));
    }
    for (int wanted : {1, 2000, 2999}) {
        const Audio block = RenderIdle(pieces, wanted);
        audio.insert(audio.end(), block.begin(), block.end());
    }
    EXPECT_EQ(audio, expected);
}

TEST(RttyTransmitter, IdlesOnLettersShiftsAndAnOverBegunMidCharacterKeepsIt)
{
    RttyTransmitter transmitter(kDefaultTones);
    // Idle is letters shifts, and is no data.
    const Audio idle = RenderIdle(transmitter, 2 * kCharSamples + 100);
    EXPECT_EQ(idle.size(), 2u * kCharSamples + 100);
    EXPECT_FALSE(transmitter.HasData());
    EXPECT_EQ(Bits(idle, kCharSamples + transmitter.Delay(), kSamplesPerBit, 6),
              (std::vector<bool>{false, true, true, true, true, true}));
    // Within an over, a new one begun while a character is on its way keeps it,
    // without a new lead-in.
    transmitter.BeginOver();
    QueueText(transmitter, "E");
    RenderAll(transmitter);
    RenderIdle(transmitter, RttyTransmitter::kTailSamples);
    QueueText(transmitter, "K");
    Audio block(500);
    transmitter.Render(block.data(), 500);
    transmitter.BeginOver();
    EXPECT_EQ(RenderAll(transmitter).size(), static_cast<size_t>(kCharSamples - 500));
}

}  // namespace
