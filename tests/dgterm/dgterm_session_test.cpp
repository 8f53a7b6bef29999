// A full-screen session driven through tmux on the loopback card, read off the
// screen: a typed line comes back decoded while the waterfall moves under the
// mode's tone markers, the squelch follows its keys, and q ends it cleanly.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <set>
#include <thread>

#include "Settings.h"
#include "Waterfall.h"
#include "dgterm_run.h"

namespace {

using Clock = std::chrono::steady_clock;
using rz::test::dgterm::Quoted;

constexpr int kColumns = 100;
constexpr int kRows = 32;

// The screen as dgterm lays it out: waterfall rows, the scale line with the tone
// markers, the decoded text, then the status line.
struct ScreenParts {
    std::vector<std::string> waterfall;
    std::string scale;
    std::string received;
    std::string status;
};

ScreenParts Parse(const std::string& screen)
{
    std::vector<std::string> lines;
    std::stringstream text(screen);
    for (std::string line; std::getline(text, line);)
        lines.push_back(line);
    ScreenParts parts;
    size_t at = 0;
    for (; at < lines.size() && lines[at].rfind("0k", 0) != 0; ++at)
        parts.waterfall.push_back(lines[at]);
    if (at < lines.size())
        parts.scale = lines[at++];
    for (; at < lines.size() && lines[at].rfind(" RX ", 0) != 0 && lines[at].rfind(" TX ", 0) != 0; ++at)
        parts.received += lines[at] + "\n";
    if (at < lines.size())
        parts.status = lines[at];
    return parts;
}

class DgtermSession : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!rz::test::dgterm::HaveProgram("tmux"))
            GTEST_SKIP() << "tmux is not installed";
        const std::string command = "env RUZADA_AUDIODRIVER=loopback " + Quoted(DGTERM_PATH) +
                                    " --mode RTTY; echo $? > " + Quoted(m_exitPath) + "; sleep 60";
        ASSERT_EQ(Tmux("new-session -d -x " + std::to_string(kColumns) + " -y " + std::to_string(kRows) + " " +
                       Quoted(command)),
                  0);
    }

    void TearDown() override
    {
        Tmux("kill-server");
        std::filesystem::remove(m_exitPath);
    }

    int Tmux(const std::string& arguments, const std::string& output = "/dev/null") const
    {
        return std::system(
            ("tmux -L " + m_socket + " -f /dev/null " + arguments + " >" + Quoted(output) + " 2>/dev/null").c_str());
    }

    ScreenParts Capture() const
    {
        const std::string path = rz::test::dgterm::TempPath("screen");
        Tmux("capture-pane -p", path);
        const std::string text = rz::test::dgterm::ReadText(path);
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

    const std::string m_socket = "dgterm-test-" + std::to_string(getpid());
    const std::string m_exitPath = rz::test::dgterm::TempPath("session-exit");
};

TEST_F(DgtermSession, TypedLineComesBackDecodedAndQuitEndsCleanly)
{
    ASSERT_TRUE(WaitFor([](const ScreenParts& s) { return s.status.find("RTTY") != std::string::npos; }));
    const ScreenParts idle = Capture();
    EXPECT_EQ(idle.status.rfind(" RX ", 0), 0u) << idle.status;
    for (double tone : ModeTones("RTTY"))
        EXPECT_EQ(idle.scale.at(static_cast<size_t>(FrequencyColumn(tone, kColumns))), '^') << idle.scale;

    Tmux("send-keys t");
    Tmux("send-keys -l 'CQ DE TEST'");
    Tmux("send-keys Enter");
    std::set<std::vector<std::string>> signalRows;
    ASSERT_TRUE(WaitFor([&](const ScreenParts& s) {
        const auto strongest = [](const std::string& row) { return row.find(kShadeChars[kShades - 1]); };
        if (std::any_of(s.waterfall.begin(), s.waterfall.end(),
                        [&](const std::string& row) { return strongest(row) != std::string::npos; }))
            signalRows.insert(s.waterfall);
        return s.received.find("CQ DE TEST") != std::string::npos;
    })) << Capture().received;
    EXPECT_GE(signalRows.size(), 2u) << "the waterfall did not move";

    ASSERT_TRUE(WaitFor([](const ScreenParts& s) { return s.status.rfind(" RX ", 0) == 0; })) << "still on the air";
    Tmux("send-keys + +");
    EXPECT_TRUE(WaitFor([](const ScreenParts& s) { return s.status.find("squelch 10%") != std::string::npos; }))
        << Capture().status;
    Tmux("send-keys -");
    EXPECT_TRUE(WaitFor([](const ScreenParts& s) { return s.status.find("squelch 5%") != std::string::npos; }))
        << Capture().status;

    Tmux("send-keys q");
    for (const auto end = Clock::now() + std::chrono::seconds(15);
         rz::test::dgterm::ReadText(m_exitPath).empty() && Clock::now() < end;)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(rz::test::dgterm::ReadText(m_exitPath), "0\n");
}

}  // namespace
