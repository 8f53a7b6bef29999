// dgterm with the PSK mode on WAV files, as scripts use it: a transmission it
// writes is copied by our receiver, and it prints the text of a recording of
// fldigi's.
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "dgterm_run.h"
#include "psk_channel.h"
#include "wav_file.h"

namespace {

using namespace rz::psk::testing;
using rz::test::dgterm::RunDgterm;

const std::string kText = "CQ CQ de DL2XYZ, pse K? 73!";

TEST(PskDgterm, WritesATransmissionThatCopies)
{
    const std::string path = rz::test::dgterm::TempPath("psk-tx.wav");
    const rz::test::dgterm::Run run = RunDgterm({"--mode", "PSK", "--tx-file", path, "--text", kText});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::optional<std::vector<int16_t>> audio = rz::rtty::testing::ReadWav(path);
    std::remove(path.c_str());
    ASSERT_TRUE(audio.has_value());
    EXPECT_EQ(ReceiveText(*audio, DG_PSK_BPSK31), kText);
}

TEST(PskDgterm, PrintsTheTextOfAnFldigiRecording)
{
    const std::string data = PSK_TEST_DATA;
    const rz::test::dgterm::Run run =
        RunDgterm({"--mode", "PSK", "--option", "Submode=QPSK31", "--rx-file", data + "/fldigi_QPSK31.wav"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, rz::test::dgterm::ReadText(data + "/QPSK31.txt"));
}

}  // namespace
