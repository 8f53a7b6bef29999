// Interop with minimodem, an independent RTTY modem: each side decodes what the
// other sends, exactly. Skipped where minimodem is not installed.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "minimodem.h"
#include "rtty_channel.h"
#include "rtty_timing.h"
#include "wav_file.h"

namespace {

using namespace rtty::testing;

class Minimodem : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_program = FindMinimodem();
        if (!m_program)
            GTEST_SKIP() << "minimodem is not installed (the Debian package minimodem provides it)";
        m_wavPath = (std::filesystem::path(::testing::TempDir()) /
                     ("rtty-minimodem-" + std::to_string(getpid()) + ".wav"))
                        .string();
    }

    void TearDown() override
    {
        if (!m_wavPath.empty())
            std::filesystem::remove(m_wavPath);
    }

    std::optional<std::string> m_program;
    std::string m_wavPath;
};

TEST_F(Minimodem, DecodesOurTransmission)
{
    ASSERT_TRUE(WriteWav(m_wavPath, TransmitText(kEveryCharacter, kDefaultTones, 2 * rtty::kCharSamples)));
    const std::optional<std::string> received = MinimodemReceive(*m_program, m_wavPath);
    ASSERT_TRUE(received.has_value());
    EXPECT_EQ(*received, kEveryCharacter);
}

TEST_F(Minimodem, IsDecodedByOurReceiverIn3250SampleBlocks)
{
    ASSERT_TRUE(MinimodemTransmit(*m_program, kEveryCharacter, m_wavPath));
    const std::optional<std::vector<int16_t>> audio = ReadWav(m_wavPath);
    ASSERT_TRUE(audio.has_value());
    EXPECT_EQ(ReceiveText(*audio, kDefaultTones, kDecodeBlock), kEveryCharacter);
}

TEST_F(Minimodem, IsDecodedByOurReceiverThroughNoise)
{
    const std::string text = std::string(kEveryCharacter) + kEveryCharacter + kEveryCharacter;
    ASSERT_TRUE(MinimodemTransmit(*m_program, text, m_wavPath));
    const std::optional<std::vector<int16_t>> audio = ReadWav(m_wavPath);
    ASSERT_TRUE(audio.has_value());
    EXPECT_LE(CharacterErrorRate(text, ReceiveText(AddNoise(*audio, -5.0, 6, 8000, 8000))), 0.01);
}

} // namespace
