// dgterm writing RTTY to a file, as scripts use it: the file holds the over, the
// last character's whole stop and a fixed tail, and nothing more, however long
// the run takes; dgterm reads it back whole, short as it is.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "DgtermRun.h"
#include "RttyChannel.h"
#include "RttyTiming.h"
#include "RttyTransmitter.h"
#include "RttyWav.h"
#include "SignalProbe.h"

namespace {

using rz::rtty::kCharSamples;
using rz::rtty::RttyTransmitter;

TEST(RttyDgterm, WritesTheOverAndAFixedTailAndNothingMore)
{
    // Two batches of characters for the module. Two letters shifts, the 20
    // characters and a figures shift before the 7: short enough for a pipe.
    const std::string text = "CQ CQ DE ABC TEST 73";
    const std::string path = rz::test::dgterm::TempPath("rtty-tx.wav");
    for (int run = 0; run < 2; ++run) {
        const rz::test::dgterm::Run dgterm =
            rz::test::dgterm::RunDgterm({"--mode", "RTTY", "--tx-file", path, "--text", text});
        ASSERT_EQ(dgterm.exitCode, 0) << dgterm.err;
        const std::optional<std::vector<int16_t>> audio = rz::rtty::testing::ReadWav(path);
        ASSERT_TRUE(audio.has_value());
        // The lead-in, every code and the tail; the module starts with one silent
        // sample and holds the last one back.
        const int lastStopEnd = RttyTransmitter::kLeadInSamples + 23 * kCharSamples;
        ASSERT_EQ(audio->size(), static_cast<size_t>(lastStopEnd + RttyTransmitter::kTailSamples));
        // The last stop bit is out whole, delayed by the keying's shaping.
        const int delay = RttyTransmitter(rz::rtty::testing::kDefaultTones).Delay();
        EXPECT_TRUE(rz::rtty::testing::HoldsMark(audio->data() + lastStopEnd + delay - rz::rtty::kSamplesPerBit,
                                                 rz::rtty::kSamplesPerBit, rz::rtty::testing::kDefaultTones));
        EXPECT_EQ(audio->back(), 0);
    }
    // Smaller than a pipe holds, the recording is written out before the card
    // opens its stream: it must still arrive whole, and the run end.
    ASSERT_LT(std::filesystem::file_size(path), 65536u);
    const rz::test::dgterm::Run read = rz::test::dgterm::RunDgterm({"--mode", "RTTY", "--rx-file", path});
    std::remove(path.c_str());
    EXPECT_EQ(read.exitCode, 0) << read.err;
    EXPECT_EQ(read.out, text);
}

}  // namespace
