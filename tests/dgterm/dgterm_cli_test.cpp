// dgterm run as a program: the demo, the GNU-style command line, recordings at
// any rate exchanged with minimodem (an independent RTTY modem), streams, and
// plain lines from stdin.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>

#include <csignal>

#include <filesystem>
#include <fstream>

#include "DgtermRun.h"
#include "SuiteHelpers.h"

namespace {

using rz::test::dgterm::Minimodem;
using rz::test::dgterm::Quoted;
using rz::test::dgterm::RunDgterm;
using rz::test::dgterm::TempPath;

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(DgtermDemo, DecodesWhatItSentWithinTwentySeconds)
{
    // The environment says "null": the demo must choose the loopback itself.
    const rz::test::dgterm::Run run = RunDgterm({"--demo"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_LT(run.took, std::chrono::seconds(20));
    // Not a terminal: the decoded text comes as plain lines.
    EXPECT_TRUE(Has(run.out, "CQ CQ DE RUZADA")) << run.out;
    EXPECT_TRUE(Has(run.err, "demo passed")) << run.err;
}

struct CommandLineCase {
    const char* name;
    std::vector<std::string> arguments;
    int exitCode;
    std::string inOut;  // expected in stdout, or "" for none
    std::string inErr;
    std::string notInOut = "\x01";
    std::vector<std::string> environment = {};
};

class DgtermCommandLine : public ::testing::TestWithParam<CommandLineCase> {};

TEST_P(DgtermCommandLine, AnswersWithItsExitCodeAndMessage)
{
    const CommandLineCase& expected = GetParam();
    const rz::test::dgterm::Run run = RunDgterm(expected.arguments, expected.environment);
    EXPECT_EQ(run.exitCode, expected.exitCode) << run.err;
    if (expected.inOut.empty())
        EXPECT_EQ(run.out, "");
    else
        EXPECT_TRUE(Has(run.out, expected.inOut)) << run.out;
    EXPECT_FALSE(Has(run.out, expected.notInOut)) << run.out;
    EXPECT_TRUE(Has(run.err, expected.inErr)) << run.err;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DgtermCommandLine,
    ::testing::Values(
        CommandLineCase{"Help", {"--help"}, 0, "--rx-file", ""},
        // Names that --mode and --device take, the default marked, no numbers.
        CommandLineCase{"List", {"--list"}, 0, "loopback cable  (default)", "", "0x"},
        CommandLineCase{"HelpMode", {"--help-mode", "rtty"}, 0, "UnshiftOnSpace", ""},
        CommandLineCase{"NothingToDo", {}, 2, "", "--mode"},
        CommandLineCase{"PttNotAComPort", {"--mode", "RTTY", "--ptt", "LPT1"}, 2, "", "COM1 to COM255"},
        CommandLineCase{"CatWithoutRig", {"--mode", "RTTY", "--ptt", "cat"}, 2, "", "needs --rig"},
        CommandLineCase{
            "UnknownSetting", {"--mode", "RTTY", "--option", "Bogus=1"}, 2, "", "RTTY has no setting Bogus"},
        CommandLineCase{
            "UnknownMode", {"--mode", "PSK31", "--tx-file", "/dev/null", "--text", "CQ"}, 2, "", "no mode named PSK31"},
        CommandLineCase{"MissingDevice", {"--mode", "RTTY", "--device", "nowhere"}, 2, "", "no device named nowhere"},
        // The PTT port is checked before anything else, by its device's path.
        CommandLineCase{"MissingPttPort",
                        {"--mode", "RTTY", "--ptt", "COM9"},
                        1,
                        "",
                        "cannot open the PTT port COM9 (/nonexistent/ttyUSB9)",
                        "\x01",
                        {"RUZADA_COM9=/nonexistent/ttyUSB9"}},
        CommandLineCase{"UnreachableRig",
                        {"--mode", "RTTY", "--rig", "2", "--rig-port", "127.0.0.1:1"},
                        1,
                        "",
                        "cannot reach the rig"},
        CommandLineCase{
            "MissingRecording", {"--mode", "RTTY", "--rx-file", "/nonexistent/in.wav"}, 1, "", "cannot read"},
        CommandLineCase{"MissingModule", {"--list", "--module", "/nonexistent/RUZada.so"}, 1, "", "cannot load"}),
    [](const ::testing::TestParamInfo<CommandLineCase>& info) { return std::string(info.param.name); });

class DgtermWithMinimodem : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!rz::test::support::FindProgram("minimodem"))
            GTEST_SKIP() << "minimodem is not installed";
    }
    void TearDown() override
    {
        for (const std::string& path : {m_wavPath, m_iniPath})
            std::filesystem::remove(path);
    }

    // What `minimodem --tx MODE` sends at `rate`, written with `channels` (the
    // same audio in each) after `silentSeconds` of silence.
    void Transmit(const std::string& mode, int rate, int channels, int silentSeconds)
    {
        ASSERT_TRUE(Minimodem("--tx " + mode + " -R " + std::to_string(rate) + " -f " + Quoted(m_wavPath), m_text));
        SF_INFO info = {};
        SNDFILE* in = sf_open(m_wavPath.c_str(), SFM_READ, &info);
        ASSERT_TRUE(in);
        std::vector<short> mono(static_cast<size_t>(info.frames));
        sf_readf_short(in, mono.data(), info.frames);
        sf_close(in);
        std::vector<short> frames(static_cast<size_t>(rate * silentSeconds) * channels);
        for (short sample : mono)
            frames.insert(frames.end(), static_cast<size_t>(channels), sample);
        info.channels = channels;
        SNDFILE* out = sf_open(m_wavPath.c_str(), SFM_WRITE, &info);
        ASSERT_TRUE(out);
        sf_writef_short(out, frames.data(), static_cast<sf_count_t>(frames.size() / channels));
        sf_close(out);
    }

    const std::string m_wavPath = TempPath("audio.wav");
    const std::string m_iniPath = TempPath("RUZada.ini");
    // Letters, figures and the shifts between them, with a teleprinter line end.
    const std::string m_text = "RYRY CQ DE DL1ABC/P 599 QTH 52.5N $3,000? (OK) 73\r\n";
};

TEST_F(DgtermWithMinimodem, PrintsRecordingsExactlyAtAnyRateAndWithTheMatchingSettings)
{
    std::ofstream(m_iniPath) << "[RUZada]\nUse48KHz=1\n";
    const struct {
        std::string mode;
        int rate;
        int channels;
        int silentSeconds;
        std::vector<std::string> options;
        std::string environment = "UNUSED=1";
    } cases[] = {
        // A long quiet start must not pass for the end of the recording.
        {"rtty", 8000, 1, 60, {}},
        {"rtty", 44100, 2, 0, {}},
        {"rtty", 48000, 1, 0, {}, "RUZADA_INI=" + m_iniPath},
        {"rtty -M 2125 -S 1275", 8000, 1, 0, {"--option", "MarkFrequency=2125", "--option", "Shift=850"}},
        {"rtty -i", 8000, 1, 0, {"--option", "Reverse=1"}},
        // Baudot at 50 baud on RTTY's tones, with one stop bit as minimodem sends it.
        {"--baudot 50 --stopbits 1", 8000, 1, 0, {"--option", "Baud=50"}},
    };
    for (const auto& c : cases) {
        Transmit(c.mode, c.rate, c.channels, c.silentSeconds);
        std::vector<std::string> arguments = {"--mode", "RTTY", "--rx-file", m_wavPath};
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());
        const rz::test::dgterm::Run run = RunDgterm(arguments, {c.environment});
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.out, m_text) << "minimodem --tx " << c.mode << " at " << c.rate << " Hz, " << c.channels
                                   << " channels";
        EXPECT_EQ(run.err, "");
    }
}

TEST_F(DgtermWithMinimodem, WritesTransmissionsThatMinimodemDecodes)
{
    for (const int rate : {8000, 44100}) {
        const rz::test::dgterm::Run run =
            RunDgterm({"--mode", "rtty", "--tx-file", m_wavPath, "--tx-rate", std::to_string(rate), "--text", m_text});
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(Minimodem("--rx rtty -q -R " + std::to_string(rate) + " -f " + Quoted(m_wavPath)), m_text) << rate;
    }
}

TEST_F(DgtermWithMinimodem, DecodesAStreamAsItComesAndEndsOnInterrupt)
{
    Transmit("rtty", 8000, 1, 0);
    const std::string recording = rz::test::dgterm::ReadText(m_wavPath);
    const std::string fifo = TempPath("stream");
    const std::string out = TempPath("stream-out");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // Fed as it is read and held open after the recording, as a live stream is.
    const int writer = open(fifo.c_str(), O_RDWR | O_NONBLOCK);
    size_t fed = 0;
    const int dgterm = rz::test::dgterm::StartInBackground(Quoted(DGTERM_PATH) + " --mode RTTY --rx-file " +
                                                           Quoted(fifo) + " >" + Quoted(out) + " 2>/dev/null");
    ASSERT_GT(dgterm, 0);
    EXPECT_TRUE(rz::test::support::WaitUntil(
        [&] {
            fed += static_cast<size_t>(std::max<ssize_t>(0, write(writer, &recording[fed], recording.size() - fed)));
            return Has(rz::test::dgterm::ReadText(out), "QTH 52.5N");
        },
        std::chrono::seconds(20)))
        << rz::test::dgterm::ReadText(out);
    kill(dgterm, SIGINT);
    EXPECT_TRUE(rz::test::support::WaitUntil([&] { return kill(dgterm, 0) != 0; })) << "dgterm did not end on Ctrl-C";
    close(writer);
    for (const std::string& path : {fifo, out})
        std::filesystem::remove(path);
}

TEST(DgtermPlainLines, SendsWhatStdinGaveAndExitsOnceSent)
{
    const rz::test::dgterm::Run run =
        RunDgterm({"--mode", "RTTY"}, {"RUZADA_AUDIODRIVER=loopback"}, "CQ DE TEST\nSECOND LINE\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_LT(run.took, std::chrono::seconds(30));
    // Done once the last line has been sent: its end may still be on the cable.
    EXPECT_TRUE(Has(run.out, "CQ DE TEST\r\nSECOND")) << run.out;
}

TEST(DgtermPlainLines, SaysSoWhenItFallsBackToTheLoopbackCard)
{
    // No driver named and no sound server to be found.
    const rz::test::dgterm::Run run =
        RunDgterm({"--mode", "RTTY"}, {"-u", "RUZADA_AUDIODRIVER", "PULSE_SERVER=unix:/nonexistent"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(Has(run.err, "no sound device found")) << run.err;
}

}  // namespace
