// Sessions driven through tmux and read off the screen, as an operator sees
// them: full screen on the loopback card, a file's signal or PulseAudio, and
// plain lines on a terminal without cursor addressing.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <thread>

#include "DgtermRun.h"
#include "SuiteHelpers.h"
#include "Waterfall.h"

namespace {

using Clock = std::chrono::steady_clock;
using rz::test::dgterm::PulseServer;
using rz::test::dgterm::Quoted;
using rz::test::dgterm::ReadText;
using rz::test::dgterm::TempPath;

constexpr int kColumns = 160;
constexpr int kRows = 32;

// The screen as dgterm lays it out: waterfall rows, the scale line with the
// markers, the decoded text, the status line, then the over being sent.
struct ScreenParts {
    std::vector<std::string> waterfall;
    std::string scale;
    std::string received;
    std::string status;
    std::string over;
};

ScreenParts Parse(const std::string& screen)
{
    ScreenParts parts;
    std::stringstream text(screen);
    for (std::string line; std::getline(text, line);) {
        const bool onStatus = line.rfind(" RX ", 0) == 0 || line.rfind(" TX ", 0) == 0;
        if (parts.scale.empty() && line.rfind("0k", 0) == 0)
            parts.scale = line;
        else if (parts.scale.empty())
            parts.waterfall.push_back(line);
        else if (parts.status.empty() && onStatus)
            parts.status = line;
        else if (parts.status.empty())
            parts.received += line + "\n";
        else if (parts.over.empty())
            parts.over = line;
    }
    return parts;
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The frequency the status line shows after `label` ("  " before the carrier,
// "AFC on " before the one the receiver follows), or -1.
double StatusHz(const ScreenParts& screen, const std::string& label = "  ")
{
    std::smatch match;
    return std::regex_search(screen.status, match, std::regex(label + R"((\d+\.\d) Hz)")) ? std::stod(match[1]) : -1.0;
}

class DgtermSession : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!rz::test::support::FindProgram("tmux"))
            GTEST_SKIP() << "tmux is not installed";
        std::filesystem::create_directories(m_config + "/dgterm");
    }

    void TearDown() override
    {
        Tmux("kill-server");
        std::filesystem::remove(m_exitPath);
        std::filesystem::remove_all(m_config);
    }

    // Runs dgterm in a tmux pane of its own, full screen unless told otherwise.
    void Start(const std::string& environment, const std::string& arguments, bool fullScreen = true)
    {
        const std::string command = "env XDG_CONFIG_HOME=" + Quoted(m_config) + " " + environment + " " +
                                    Quoted(DGTERM_PATH) + " " + arguments + "; echo $? > " + Quoted(m_exitPath) +
                                    "; sleep 60";
        ASSERT_EQ(Tmux("new-session -d -x " + std::to_string(kColumns) + " -y " + std::to_string(kRows) + " " +
                       Quoted(command)),
                  0);
        if (fullScreen) {
            ASSERT_TRUE(WaitFor([](const ScreenParts& s) { return s.status.rfind(" RX ", 0) == 0; }));
        }
    }

    std::string ExitStatus() const
    {
        rz::test::support::WaitUntil([&] { return !ReadText(m_exitPath).empty(); }, std::chrono::seconds(20));
        return ReadText(m_exitPath);
    }

    int Tmux(const std::string& arguments, const std::string& output = "/dev/null") const
    {
        return std::system(
            ("tmux -L " + m_socket + " -f /dev/null " + arguments + " >" + Quoted(output) + " 2>/dev/null").c_str());
    }
    void Keys(const std::string& keys) const { Tmux("send-keys " + keys); }
    void Type(const std::string& text) const { Tmux("send-keys -l " + Quoted(text)); }
    // Types `text` on the transmit line and sends it.
    void SendLine(const std::string& text) const
    {
        Keys("t");
        Type(text);
        Keys("Enter");
    }

    ScreenParts Capture() const
    {
        const std::string path = TempPath("screen");
        Tmux("capture-pane -p", path);
        const std::string text = ReadText(path);
        std::filesystem::remove(path);
        return Parse(text);
    }

    // Captures the screen until `seen` holds for it, or the limit passes.
    template <class Seen>
    bool WaitFor(Seen seen, std::chrono::seconds limit = std::chrono::seconds(30)) const
    {
        for (const auto end = Clock::now() + limit; Clock::now() < end;) {
            if (seen(Capture()))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    }

    // Presses q and returns dgterm's exit status.
    std::string Quit() const
    {
        Keys("q");
        return ExitStatus();
    }

    const std::string m_socket = "dgterm-test-" + std::to_string(getpid());
    const std::string m_exitPath = TempPath("session-exit");
    const std::string m_config = TempPath("config");
};

TEST_F(DgtermSession, TypedLineAndMacroComeBackDecodedAndLoggedAndEscapeStopsAnOver)
{
    std::ofstream(m_config + "/dgterm/dgterm.ini") << "[Macros]\nF2=QRZ {CALL} DE {MYCALL} {RST}\n";
    const std::string log = TempPath("session.log");
    Start("RUZADA_AUDIODRIVER=loopback", "--mode RTTY --mycall DL1ABC --log " + Quoted(log));
    const ScreenParts idle = Capture();
    // RTTY's space and mark.
    for (double tone : {1415.0, 1585.0})
        EXPECT_EQ(idle.scale.at(static_cast<size_t>(rz::dgterm::FrequencyColumn(tone, kColumns))), '^') << idle.scale;

    SendLine("CQ DE TEST");
    const std::string strongest(1, rz::dgterm::kShadeChars[rz::dgterm::kShades - 1]);
    std::set<std::vector<std::string>> signalRows;
    ASSERT_TRUE(WaitFor([&](const ScreenParts& s) {
        if (std::ranges::any_of(s.waterfall, [&](const std::string& row) { return Has(row, strongest); }))
            signalRows.insert(s.waterfall);
        return Has(s.received, "CQ DE TEST");
    })) << Capture().received;
    EXPECT_GE(signalRows.size(), 2u) << "the waterfall did not move";

    // Text given while an over is on the air joins it: the macro waits for its own.
    ASSERT_TRUE(WaitFor([](const ScreenParts& s) { return s.status.rfind(" RX ", 0) == 0; })) << "still on the air";
    Keys("c");
    Type("w1aw");
    Keys("Enter F2");
    ASSERT_TRUE(WaitFor([](const ScreenParts& s) { return Has(s.received, "QRZ W1AW DE DL1ABC 599"); }))
        << Capture().received;
    EXPECT_TRUE(Has(Capture().status, "call W1AW")) << Capture().status;
    ASSERT_TRUE(WaitFor([](const ScreenParts& s) { return s.status.rfind(" RX ", 0) == 0; })) << "still on the air";

    // Esc stops an over of about 25 s at once.
    const std::string longLine =
        "THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG 0123456789 " + std::string(80, 'R') + " END";
    // Pressed once some of it has come back, however well decoded.
    const size_t before = Capture().received.size();
    SendLine(longLine);
    ASSERT_TRUE(WaitFor([&](const ScreenParts& s) { return s.received.size() >= before + 8; })) << Capture().received;
    Keys("Escape");
    const auto stopped = Clock::now();
    ASSERT_TRUE(WaitFor([](const ScreenParts& s) { return s.status.rfind(" RX ", 0) == 0; }));
    EXPECT_LT(Clock::now() - stopped, std::chrono::seconds(3));
    EXPECT_TRUE(Has(Capture().over, "[not sent: ")) << Capture().over;
    // Nothing more arrives: the rest of the line was never played. A line sent
    // next comes back after anything that was still on its way.
    SendLine("QSY");
    ASSERT_TRUE(WaitFor([](const ScreenParts& s) { return Has(s.received, "QSY"); })) << Capture().received;
    const std::string heard = Capture().received;
    EXPECT_FALSE(Has(heard, "RRRRRRRRRRRRRRRRRRRR")) << heard;
    EXPECT_FALSE(Has(heard, "END")) << heard;
    EXPECT_EQ(Quit(), "0\n");

    const std::string logged = ReadText(log);
    std::filesystem::remove(log);
    // Each line carries the carrier the mode reported.
    for (const char* line : {R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\dZ TX RTTY 1500\.0 Hz: CQ DE TEST)",
                             R"(Z RX RTTY 1500\.0 Hz: CQ DE TEST)", R"(Z TX RTTY 1500\.0 Hz: QRZ W1AW DE DL1ABC 599)"})
        EXPECT_TRUE(std::regex_search(logged, std::regex(line))) << line << " not in:\n" << logged;
}

TEST_F(DgtermSession, TunesOntoASignalByKeyAndClickFollowsItAndEachModeKeepsItsCarrier)
{
    // 100 Hz above the receiver's carrier of 1500 Hz: beyond what its AFC follows.
    const std::string signal = TempPath("rtty-offtune.wav");
    const std::string text = "RYRY CQ CQ CQ DE DL1ABC DL1ABC PSE K ";
    const rz::test::dgterm::Run written =
        rz::test::dgterm::RunDgterm({"--mode", "RTTY", "--tx-file", signal, "--carrier", "1600", "--text",
                                     text + text + text + text + text + text});
    ASSERT_EQ(written.exitCode, 0) << written.err;
    Start("RUZADA_AUDIODRIVER=file RUZADA_AUDIO_IN=" + Quoted(signal), "--mode RTTY --carrier 1490");
    Keys("Right S-Right");
    EXPECT_TRUE(WaitFor([](const ScreenParts& s) { return StatusHz(s) == 1501.0; })) << Capture().status;
    // A press of the left button half a column off the signal (tmux takes the
    // terminal's own mouse report: ESC [ M, button, column and row, each + 32);
    // the AFC takes the rest.
    char report[64];
    std::snprintf(report, sizeof report, "-H 1b 5b 4d 20 %x %x", 33 + rz::dgterm::FrequencyColumn(1600.0, kColumns),
                  33 + 2);
    Keys(report);
    EXPECT_TRUE(WaitFor([](const ScreenParts& s) { return std::abs(StatusHz(s, "AFC on ") - 1600.0) <= 3.0; }))
        << Capture().status;
    EXPECT_TRUE(WaitFor([](const ScreenParts& s) { return Has(s.received, "CQ CQ CQ DE DL1ABC DL1ABC"); }))
        << Capture().received;
    const ScreenParts tuned = Capture();
    // The markers stand on the tones the receiver listens to.
    for (double tone : {StatusHz(tuned) - 85.0, StatusHz(tuned) + 85.0})
        EXPECT_EQ(tuned.scale.at(static_cast<size_t>(rz::dgterm::FrequencyColumn(tone, kColumns))), '^') << tuned.scale;
    // Squelch on the signal's quality, open at or above it while the signal
    // lasts; the limiter off unless asked for.
    Keys("+");
    std::string status;
    ASSERT_TRUE(WaitFor([&](const ScreenParts& s) { return Has(status = s.status, "squelch 5 "); })) << status;
    std::smatch squelch;
    ASSERT_TRUE(std::regex_search(status, squelch, std::regex(R"((\d+) squelch 5 (open|shut))"))) << status;
    EXPECT_GE(std::stoi(squelch[1]), 5) << status;
    EXPECT_EQ(squelch[2], "open") << status;
    EXPECT_FALSE(Has(status, "limiter")) << status;
    Keys("a r");
    EXPECT_TRUE(WaitFor([](const ScreenParts& s) { return Has(s.status, "AFC off") && Has(s.status, "reverse"); }))
        << Capture().status;

    // Round the modes and back: selecting a mode starts it from its settings,
    // and the session puts back the carrier it had.
    const auto mode = [](const ScreenParts& s) { return s.status.substr(0, 12); };
    const std::string rtty = mode(Capture());
    std::set<std::string> seen;
    do {
        const std::string before = mode(Capture());
        Keys("m");
        ASSERT_TRUE(WaitFor([&](const ScreenParts& s) { return mode(s) != before; })) << Capture().status;
        seen.insert(mode(Capture()));
    } while (mode(Capture()) != rtty && seen.size() < 10);
    EXPECT_GE(seen.size(), 3u) << "PSK, CW and RTTY";
    EXPECT_EQ(StatusHz(Capture()), StatusHz(tuned)) << Capture().status;
    EXPECT_EQ(Quit(), "0\n");
    std::filesystem::remove(signal);
}

TEST_F(DgtermSession, ShowsALostSoundDeviceKeysNothingAndReopensWhenItIsBack)
{
    const std::string folder = TempPath("pulse");
    if (const std::string why = PulseServer(folder, "start"); !why.empty())
        GTEST_SKIP() << "no PulseAudio daemon: " << why;
    // The daemon's cookie lies in this process's configuration folder, not in
    // the one the session is given.
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const std::string cookie =
        (config && *config ? std::string(config) : std::string(std::getenv("HOME")) + "/.config") + "/pulse/cookie";
    Start("PULSE_RUNTIME_PATH=" + Quoted(folder) + " PULSE_COOKIE=" + Quoted(cookie) + " RUZADA_AUDIODRIVER=portaudio",
          "--mode RTTY");
    EXPECT_FALSE(Has(Capture().status, "lost")) << Capture().status;

    PulseServer(folder, "stop");
    EXPECT_TRUE(WaitFor([](const ScreenParts& s) { return Has(s.status, "sound device lost"); })) << Capture().status;
    Keys("t");
    Type("CQ AFTER THE LOSS");
    Keys("Enter");
    // Held back while the card is lost: never on the air.
    EXPECT_FALSE(WaitFor([](const ScreenParts& s) { return s.status.rfind(" TX ", 0) == 0; }, std::chrono::seconds(3)));

    ASSERT_EQ(PulseServer(folder, "start"), "");
    EXPECT_TRUE(WaitFor([](const ScreenParts& s) { return !Has(s.status, "lost"); }, std::chrono::seconds(20)))
        << Capture().status;
    EXPECT_TRUE(WaitFor([](const ScreenParts& s) { return Has(s.over, "CQ AFTER THE LOSS"); })) << Capture().over;
    EXPECT_EQ(Quit(), "0\n");
    PulseServer(folder, "stop");
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

TEST_F(DgtermSession, WritesPlainLinesOnATerminalWithoutCursorAddressing)
{
    Start("TERM=dumb RUZADA_AUDIODRIVER=loopback", "--mode RTTY", false);
    Type("CQ DE DUMB");
    Keys("Enter");
    // The line as the terminal echoed it, then as it came back decoded around
    // the notices, each on a line of its own (the pane drops the blanks that
    // end a row).
    std::string pane;
    ASSERT_TRUE(WaitFor([&](const ScreenParts& s) {
        pane.clear();
        for (const std::string& row : s.waterfall)
            pane += row.rfind("dgterm: ", 0) == 0 ? "" : row;
        std::erase(pane, ' ');
        return pane.rfind("CQDEDUMB") != pane.find("CQDEDUMB");
    })) << pane;
    // No screen drawn: no scale line, no status line.
    EXPECT_TRUE(Capture().scale.empty()) << pane;
    Keys("C-d");
    EXPECT_EQ(ExitStatus(), "0\n");
}

}  // namespace
