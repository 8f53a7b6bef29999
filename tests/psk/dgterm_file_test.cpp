// dgterm with the PSK mode on WAV files, as scripts use it: a transmission it
// writes is copied by our receiver, and it prints the text of recordings of
// fldigi's.
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "PskChannel.h"
#include "dgterm_run.h"
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

// fldigi's transmissions (recorded by bench/psk_sensitivity/fldigi_interop.sh),
// so DGpsk is checked against an independent modem without running one.
class PskDgtermFldigi : public ::testing::TestWithParam<const char*> {};

TEST_P(PskDgtermFldigi, PrintsTheTextOfItsRecording)
{
    const std::string data = PSK_TEST_DATA;
    const std::string mode = GetParam();
    const rz::test::dgterm::Run run =
        RunDgterm({"--mode", "PSK", "--option", "Submode=" + mode, "--rx-file", data + "/fldigi_" + mode + ".wav"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, rz::test::dgterm::ReadText(data + "/" + mode + ".txt"));
}

INSTANTIATE_TEST_SUITE_P(Modes, PskDgtermFldigi, ::testing::Values("BPSK31", "BPSK63", "QPSK31"));

}  // namespace
