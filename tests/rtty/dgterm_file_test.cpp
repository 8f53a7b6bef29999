// dgterm writing RTTY to a file, as scripts use it: the file holds the over and
// a fixed tail after the last character's whole stop, and nothing more, however
// long the run takes; our receiver copies it.
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "RttyTiming.h"
#include "RttyTransmitter.h"
#include "dgterm_run.h"
#include "rtty_channel.h"
#include "wav_file.h"

namespace {

TEST(RttyDgterm, WritesTheOverAndAFixedTailAndNothingMore)
{
    // Two batches of characters for the module. Two letters shifts, the 28
    // characters and six shifts: figures before each 2 and the 5, letters before
    // each X and the K.
    const std::string text = "CQ CQ DE DL2XYZ DL2XYZ 599 K";
    const std::string path = rz::test::dgterm::TempPath("rtty-tx.wav");
    for (int run = 0; run < 2; ++run) {
        const rz::test::dgterm::Run dgterm =
            rz::test::dgterm::RunDgterm({"--mode", "RTTY", "--tx-file", path, "--text", text});
        ASSERT_EQ(dgterm.exitCode, 0) << dgterm.err;
        const std::optional<std::vector<int16_t>> audio = rz::rtty::testing::ReadWav(path);
        ASSERT_TRUE(audio.has_value());
        // The lead-in, every code and the tail; the module starts with one silent
        // sample and holds the last one back.
        EXPECT_EQ(audio->size(),
                  static_cast<size_t>(rz::rtty::RttyTransmitter::kLeadInSamples + 36 * rz::rtty::kCharSamples +
                                      rz::rtty::RttyTransmitter::kTailSamples));
        EXPECT_EQ(audio->back(), 0);
        EXPECT_EQ(rz::rtty::testing::ReceiveText(*audio), text);
    }
    std::remove(path.c_str());
}

}  // namespace
