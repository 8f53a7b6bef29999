// Transmissions that fldigi made (recorded by bench/psk_sensitivity/
// fldigi_interop.sh, 8000 Hz mono): our receiver copies each exactly, as the
// module feeds it, so DGpsk is checked against an independent modem here
// without running one.
#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "psk_channel.h"
#include "wav_file.h"

namespace {

std::string ReadFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

class FldigiRecording : public ::testing::TestWithParam<const char*> {};

TEST_P(FldigiRecording, CopiesExactly)
{
    const std::string name = GetParam();
    const std::string expected = ReadFile(std::string(PSK_TEST_DATA) + "/" + name + ".txt");
    const std::optional<std::vector<int16_t>> audio =
        rz::rtty::testing::ReadWav(std::string(PSK_TEST_DATA) + "/fldigi_" + name + ".wav");
    ASSERT_FALSE(expected.empty());
    ASSERT_TRUE(audio.has_value());
    EXPECT_EQ(rz::psk::testing::ReceiveText(*audio, *rz::psk::SubmodeNamed(name)), expected);
}

INSTANTIATE_TEST_SUITE_P(Modes, FldigiRecording, ::testing::Values("BPSK31", "BPSK63", "QPSK31"));

}  // namespace
