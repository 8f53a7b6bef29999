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

class FldigiRecording : public ::testing::TestWithParam<std::pair<const char*, DGPskSubmode>> {};

TEST_P(FldigiRecording, CopiesExactly)
{
    const std::string name = GetParam().first;
    const std::string expected = ReadFile(std::string(PSK_TEST_DATA) + "/" + name + ".txt");
    const std::optional<std::vector<int16_t>> audio =
        rz::rtty::testing::ReadWav(std::string(PSK_TEST_DATA) + "/fldigi_" + name + ".wav");
    ASSERT_FALSE(expected.empty());
    ASSERT_TRUE(audio.has_value());
    EXPECT_EQ(rz::psk::testing::ReceiveText(*audio, GetParam().second), expected);
}

INSTANTIATE_TEST_SUITE_P(Modes, FldigiRecording,
                         ::testing::Values(std::make_pair("BPSK31", DG_PSK_BPSK31),
                                           std::make_pair("BPSK63", DG_PSK_BPSK63),
                                           std::make_pair("QPSK31", DG_PSK_QPSK31)));

}  // namespace
