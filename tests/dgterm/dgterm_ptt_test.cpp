// Push-to-talk in this process: on a virtual COM port the keying line rises a
// lead before the first transmitted sample is played and falls a tail after the
// last, and nothing keys while receiving; a rig behind rigctld is keyed by CAT
// while the transmission plays. What was played is read where it comes out: the
// file sound driver, paced by the clock, writes each sample as it plays, and a
// PulseAudio null sink's monitor gives back what the sound server played, its
// output latency included.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <thread>

#include <ruzada/kernel.h>
#include <ruzada/virtualport.h>

#include "DgtermRun.h"
#include "ModuleHost.h"
#include "Over.h"
#include "Rig.h"
#include "SuiteHelpers.h"

namespace {

using namespace rz::dgterm;
using Clock = std::chrono::steady_clock;

constexpr const char* kPortName = "dgterm-ptt";
constexpr int kComPort = 7;

int64_t Now()
{
    int64_t count = 0;
    QueryPerformanceCounter(&count);
    return count;
}

// Watches a recording of what was played as it grows, from another thread: when
// it first held a loud sample and when it last did, on the virtual port's clock.
// 16-bit samples from byte `start` on.
class PlayedAudio {
public:
    PlayedAudio(const std::string& path, off_t start)
        : m_watcher([this, path, start] {
              int fd = -1;
              int16_t samples[4096];
              for (off_t at = start; !m_stop; std::this_thread::sleep_for(std::chrono::milliseconds(1))) {
                  if (fd < 0 && (fd = open(path.c_str(), O_RDONLY)) < 0)
                      continue;
                  const ssize_t got = pread(fd, samples, sizeof samples, at);
                  const auto count = got > 0 ? static_cast<size_t>(got) / sizeof(int16_t) : 0;
                  at += static_cast<off_t>(count * sizeof(int16_t));
                  if (std::any_of(samples, samples + count, [](int16_t s) { return std::abs(s) > kLoud; })) {
                      m_last = Now();
                      if (m_first == 0)
                          m_first = m_last.load();
                  }
              }
              if (fd >= 0)
                  close(fd);
          })
    {}
    ~PlayedAudio() { Stop(); }
    void Stop()
    {
        m_stop = true;
        if (m_watcher.joinable())
            m_watcher.join();
    }
    int64_t First() const { return m_first; }
    int64_t Last() const { return m_last; }

private:
    static constexpr int kLoud = 1000;
    std::atomic<bool> m_stop{false};
    std::atomic<int64_t> m_first{0};
    std::atomic<int64_t> m_last{0};
    std::thread m_watcher;
};

// A PulseAudio daemon with a null sink for PortAudio to play to, and a recording
// of the sink's monitor in `recording` (raw 16-bit mono at 8000 Hz).
class PulseSink {
public:
    explicit PulseSink(const std::string& recording) : m_folder(rz::test::dgterm::TempPath("pulse"))
    {
        if (!(m_why = rz::test::dgterm::PulseServer(m_folder, "start")).empty())
            return;
        setenv("PULSE_RUNTIME_PATH", m_folder.c_str(), 1);
        m_recorder = rz::test::dgterm::StartInBackground(
            "pacat -r -d vsink.monitor --latency-msec=10 --raw --format=s16le --rate=8000 --channels=1 >" +
            rz::test::dgterm::Quoted(recording) + " 2>/dev/null");
    }
    ~PulseSink()
    {
        if (m_recorder > 0)
            kill(m_recorder, SIGTERM);
        rz::test::dgterm::PulseServer(m_folder, "stop");
        unsetenv("PULSE_RUNTIME_PATH");
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }
    // Why the daemon did not start, or "".
    const std::string& Why() const { return m_why; }

private:
    std::string m_folder;
    std::string m_why;
    int m_recorder = 0;
};

std::vector<VirtualLineChange> LineChanges()
{
    std::vector<VirtualLineChange> changes(VirtualPortLineChanges(kPortName, nullptr, 0));
    changes.resize(VirtualPortLineChanges(kPortName, changes.data(), changes.size()));
    return changes;
}

// Handles the module's messages for `span`, or until `done`.
template <class Done>
void Pump(ModuleHost& host, std::chrono::milliseconds span, Done done)
{
    for (const auto end = Clock::now() + span; !done() && Clock::now() < end;) {
        pollfd fd = {host.window.QueueFd(), POLLIN, 0};
        poll(&fd, 1, 10);
        host.window.Dispatch();
    }
}

double Seconds(int64_t counts)
{
    int64_t countsPerSecond = 0;
    QueryPerformanceFrequency(&countsPerSecond);
    return static_cast<double>(counts) / static_cast<double>(countsPerSecond);
}

struct KeyingCase {
    const char* name;
    PttLine line;
    PttTiming timing;
    bool pulseAudio = false;  // else the file driver
};

class DgtermPtt : public ::testing::TestWithParam<KeyingCase> {};

TEST_P(DgtermPtt, KeysOnlyAroundThePlayedAudio)
{
    const KeyingCase& keying = GetParam();
    const std::string playback = rz::test::dgterm::TempPath("played");
    std::optional<PulseSink> pulse;
    if (keying.pulseAudio) {
        if (!pulse.emplace(playback).Why().empty())
            GTEST_SKIP() << "no PulseAudio daemon: " << pulse->Why();
        setenv("RUZADA_AUDIODRIVER", "portaudio", 1);
    } else {
        setenv("RUZADA_AUDIODRIVER", "file", 1);
        setenv("RUZADA_AUDIO_OUT", playback.c_str(), 1);
    }
    setenv(("RUZADA_COM" + std::to_string(kComPort)).c_str(), (std::string("virtual:") + kPortName).c_str(), 1);
    ASSERT_TRUE(VirtualPortCreate(kPortName));
    OverEvents events;
    {
        ModuleHost host("", events);
        ASSERT_TRUE(host.Loaded());
        ASSERT_FALSE(host.Start("RTTY", "", true));
        std::string error;
        const std::unique_ptr<SerialPtt> ptt = SerialPtt::Open(kComPort, keying.line, error);
        ASSERT_TRUE(ptt) << error;
        // Opening a terminal raises its lines; dgterm drops them at once, before
        // the session begins.
        const size_t opening = LineChanges().size();
        // Past the WAV file's header.
        PlayedAudio played(playback, keying.pulseAudio ? 0 : 44);
        const auto never = [] { return false; };
        const auto raised = [&] {
            const std::vector<VirtualLineChange> changes = LineChanges();
            return std::count_if(changes.begin() + opening, changes.end(), [](auto& c) { return c.raised; });
        };
        Pump(host, std::chrono::milliseconds(300), never);
        EXPECT_EQ(raised(), 0) << "keyed while receiving";

        Over over(*host.station, ptt.get(), keying.timing);
        events.over = &over;
        ASSERT_TRUE(over.Begin("CQ DE TEST K\r\n", error)) << error;
        Pump(host, std::chrono::seconds(40), [&] { return over.Advance(Clock::now()) == Over::Phase::Done; });
        ASSERT_EQ(over.CurrentPhase(), Over::Phase::Done);
        const size_t changesOnTheAir = LineChanges().size();
        Pump(host, std::chrono::milliseconds(300), never);
        played.Stop();
        EXPECT_EQ(LineChanges().size(), changesOnTheAir) << "keyed while receiving";
        ASSERT_NE(played.First(), 0) << "nothing was played";

        for (const UINT line : {VIRTUAL_LINE_RTS, VIRTUAL_LINE_DTR}) {
            const bool keys = line == VIRTUAL_LINE_RTS ? keying.line != PttLine::Dtr : keying.line != PttLine::Rts;
            std::vector<VirtualLineChange> changes = LineChanges();
            changes.erase(changes.begin(), changes.begin() + opening);
            std::erase_if(changes, [&](const VirtualLineChange& c) { return c.line != line; });
            const auto firstRise = std::find_if(changes.begin(), changes.end(), [](auto& c) { return c.raised; });
            if (!keys) {
                EXPECT_EQ(firstRise, changes.end()) << "a line that does not key was raised";
                continue;
            }
            ASSERT_NE(firstRise, changes.end());
            ASSERT_FALSE(changes.back().raised);
            const double lead = Seconds(played.First() - firstRise->time);
            const double tail = Seconds(changes.back().time - played.Last());
            EXPECT_GE(lead, std::chrono::duration<double>(keying.timing.lead).count());
            EXPECT_GE(tail, std::chrono::duration<double>(keying.timing.tail).count());
            // Unkeyed once the playback position has settled, long before the
            // longest playout the module's queues could need.
            EXPECT_LT(tail, std::chrono::duration<double>(keying.timing.tail + kLongestPlayout / 2).count());
        }
    }
    VirtualPortDestroy(kPortName);
    std::filesystem::remove(playback);
}

INSTANTIATE_TEST_SUITE_P(Lines, DgtermPtt,
                         ::testing::Values(KeyingCase{"BothWithLeadAndTail",
                                                      PttLine::Both,
                                                      {std::chrono::milliseconds(300), std::chrono::milliseconds(400)}},
                                           // The server's output latency (200 ms) is still to play when
                                           // PortAudio has taken the last sample.
                                           KeyingCase{"RtsOnPulseAudio", PttLine::Rts, {}, true}),
                         [](const ::testing::TestParamInfo<KeyingCase>& info) { return std::string(info.param.name); });

// Hamlib's dummy rig behind rigctld, reached as a user would through Hamlib's
// network model; rigctl reads its PTT back.
class RigctldPtt : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!rz::test::support::FindProgram("rigctld"))
            GTEST_SKIP() << "rigctld is not installed";
        m_pid =
            rz::test::dgterm::StartInBackground("rigctld -m 1 -P RIG -T 127.0.0.1 -t " + m_port + " >/dev/null 2>&1");
        ASSERT_GT(m_pid, 0);
        ASSERT_TRUE(rz::test::support::WaitUntil([&] { return Ptt() == "0"; })) << "rigctld did not answer";
    }
    void TearDown() override
    {
        if (m_pid > 0)
            kill(m_pid, SIGTERM);
    }

    // What rigctl reads back as the rig's PTT: "0" or "1".
    std::string Ptt() const
    {
        const std::string answer =
            rz::test::support::RunProgram({"rigctl", "-m", "2", "-r", Address(), "t"}).value_or("");
        return answer.substr(0, answer.find('\n'));
    }
    std::string Address() const { return "127.0.0.1:" + m_port; }

    const std::string m_port = std::to_string(20000 + getpid() % 20000);
    int m_pid = 0;
};

TEST_F(RigctldPtt, KeysWhileTheTransmissionPlaysAndReadsTheDial)
{
    setenv("RUZADA_AUDIODRIVER", "file", 1);
    unsetenv("RUZADA_AUDIO_OUT");
    std::string error;
    const std::unique_ptr<Rig> rig = Rig::Open(2, Address(), error);
    ASSERT_TRUE(rig) << error;
    EXPECT_EQ(rig->DialHz(), 145000000.0);
    OverEvents events;
    ModuleHost host("", events);
    ASSERT_FALSE(host.Start("RTTY", "", true));
    Over over(*host.station, rig.get(), {});
    events.over = &over;
    ASSERT_TRUE(over.Begin("CQ DE TEST K\r\n", error)) << error;
    bool keyedWhileSending = false;
    Pump(host, std::chrono::seconds(40), [&] {
        if (over.CurrentPhase() == Over::Phase::Sending && !keyedWhileSending)
            keyedWhileSending = Ptt() == "1";
        return over.Advance(Clock::now()) == Over::Phase::Done;
    });
    EXPECT_TRUE(keyedWhileSending);
    EXPECT_EQ(over.CurrentPhase(), Over::Phase::Done);
    EXPECT_EQ(Ptt(), "0");
}

}  // namespace
