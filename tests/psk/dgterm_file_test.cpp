// dgterm with the PSK mode on WAV files, as scripts use it: a transmission it
// writes is copied by our receiver, a recording it reads prints its text.
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "dgterm_run.h"
#include "psk_channel.h"
#include "rtty_channel.h"
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

TEST(PskDgterm, PrintsARecordingsText)
{
    const std::string path = rz::test::dgterm::TempPath("psk-rx.wav");
    const std::vector<int16_t> audio = rz::rtty::testing::AddNoise(TransmitText(kText, DG_PSK_BPSK31), 0.0, 9, 8000, 0);
    ASSERT_TRUE(rz::rtty::testing::WriteWav(path, audio));
    const rz::test::dgterm::Run run = RunDgterm({"--mode", "PSK", "--rx-file", path});
    std::remove(path.c_str());
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, kText);
}

}  // namespace
