// dgterm run as a program: the demo, the GNU-style command line, and WAV files
// exchanged with minimodem, an independent RTTY modem.
#include <gtest/gtest.h>

#include <sndfile.h>

#include <filesystem>

#include "dgterm_run.h"
#include "minimodem.h"

namespace {

using rz::test::dgterm::RunDgterm;
using rz::test::dgterm::TempPath;

TEST(DgtermDemo, DecodesWhatItSentWithinTwentySeconds)
{
    // The environment says "null": the demo must choose the loopback itself.
    const rz::test::dgterm::Run run = RunDgterm({"--demo"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_LT(run.took, std::chrono::seconds(20));
    // Not a terminal: the decoded text comes as plain lines.
    EXPECT_NE(run.out.find("CQ CQ DE RUZADA"), std::string::npos) << run.out;
    EXPECT_NE(run.err.find("demo passed"), std::string::npos) << run.err;
}

struct CommandLineCase {
    const char* name;
    std::vector<std::string> arguments;
    int exitCode;
    std::string inOut;  // expected in stdout, or "" for none
    std::string inErr;
};

void PrintTo(const CommandLineCase& c, std::ostream* out)
{
    *out << "dgterm";
    for (const std::string& argument : c.arguments)
        *out << " " << argument;
}

class DgtermCommandLine : public ::testing::TestWithParam<CommandLineCase> {};

TEST_P(DgtermCommandLine, AnswersWithItsExitCodeAndMessage)
{
    const CommandLineCase& expected = GetParam();
    const rz::test::dgterm::Run run = RunDgterm(expected.arguments);
    EXPECT_EQ(run.exitCode, expected.exitCode) << run.err;
    if (expected.inOut.empty())
        EXPECT_EQ(run.out, "");
    else
        EXPECT_NE(run.out.find(expected.inOut), std::string::npos) << run.out;
    EXPECT_NE(run.err.find(expected.inErr), std::string::npos) << run.err;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DgtermCommandLine,
    ::testing::Values(
        CommandLineCase{"Help", {"--help"}, 0, "--rx-file", ""},
        CommandLineCase{"Version", {"--version"}, 0, std::string("dgterm ") + DGTERM_VERSION, ""},
        CommandLineCase{"List", {"--list"}, 0, "RTTY", ""}, CommandLineCase{"NothingToDo", {}, 2, "", "--mode"},
        CommandLineCase{"ListAndDemo", {"--list", "--demo"}, 2, "", "excludes"},
        CommandLineCase{"PttNotAComPort", {"--mode", "RTTY", "--ptt", "LPT1"}, 2, "", "COM1 to COM255"},
        CommandLineCase{"TextWithoutFile", {"--mode", "RTTY", "--text", "CQ"}, 2, "", "--tx-file"},
        CommandLineCase{
            "UnknownMode", {"--mode", "PSK31", "--tx-file", "/dev/null", "--text", "CQ"}, 2, "", "no mode named PSK31"},
        CommandLineCase{"MissingDevice", {"--mode", "RTTY", "--device", "9"}, 2, "", "no sound device 9"},
        CommandLineCase{
            "MissingRecording", {"--mode", "RTTY", "--rx-file", "/nonexistent/in.wav"}, 1, "", "cannot read"},
        CommandLineCase{"MissingModule", {"--list", "--module", "/nonexistent/RUZada.so"}, 1, "", "cannot load"}),
    [](const ::testing::TestParamInfo<CommandLineCase>& info) { return std::string(info.param.name); });

class DgtermWithMinimodem : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_minimodem = rz::rtty::testing::FindMinimodem();
        if (!m_minimodem)
            GTEST_SKIP() << "minimodem is not installed";
    }
    void TearDown() override { std::filesystem::remove(m_wavPath); }

    std::optional<std::string> m_minimodem;
    const std::string m_wavPath = TempPath("audio.wav");
    // Letters, figures and the shifts between them, with a teleprinter line end.
    const std::string m_text = "RYRY CQ DE DL1ABC/P 599 QTH 52.5N $3,000? (OK) 73\r\n";
};

// Puts `seconds` of digital silence ahead of a mono recording.
bool PrependSilence(const std::string& path, int seconds)
{
    SF_INFO info = {};
    SNDFILE* in = sf_open(path.c_str(), SFM_READ, &info);
    if (!in || info.channels != 1)
        return false;
    const sf_count_t frames = info.frames;
    std::vector<short> samples(static_cast<size_t>(info.samplerate * seconds + frames));
    const sf_count_t read = sf_readf_short(in, samples.data() + info.samplerate * seconds, frames);
    sf_close(in);
    SNDFILE* out = read == frames ? sf_open(path.c_str(), SFM_WRITE, &info) : nullptr;
    if (!out)
        return false;
    const sf_count_t written = sf_writef_short(out, samples.data(), static_cast<sf_count_t>(samples.size()));
    return sf_close(out) == 0 && written == static_cast<sf_count_t>(samples.size());
}

TEST_F(DgtermWithMinimodem, PrintsARecordingsTextExactly)
{
    ASSERT_TRUE(rz::rtty::testing::MinimodemTransmit(*m_minimodem, m_text, m_wavPath));
    // A long quiet start must not pass for the end of the recording.
    ASSERT_TRUE(PrependSilence(m_wavPath, 60));
    const rz::test::dgterm::Run run = RunDgterm({"--mode", "RTTY", "--rx-file", m_wavPath});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, m_text);
    EXPECT_EQ(run.err, "");
}

TEST_F(DgtermWithMinimodem, WritesATransmissionThatMinimodemDecodes)
{
    const rz::test::dgterm::Run run = RunDgterm({"--mode", "rtty", "--tx-file", m_wavPath, "--text", m_text});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(rz::rtty::testing::MinimodemReceive(*m_minimodem, m_wavPath), m_text);
}

}  // namespace
