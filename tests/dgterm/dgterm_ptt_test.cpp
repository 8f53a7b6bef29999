// Push-to-talk on a virtual COM port, in this process: RTS rises before the first
// transmitted sample is played and falls after the last, and nothing keys while
// receiving. The file sound driver, paced by the clock, writes each sample as it
// plays, so the growth of its file times the playing.
#include <gtest/gtest.h>

#include <poll.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include <ruzada/kernel.h>
#include <ruzada/virtualport.h>

#include "Over.h"
#include "Rig.h"
#include "dgterm_run.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kPortName = "dgterm-ptt";
constexpr int kComPort = 7;

int64_t Now()
{
    int64_t count = 0;
    QueryPerformanceCounter(&count);
    return count;
}

// Watches the playback file from another thread: when it first grew and when it
// last did, on the virtual port's clock.
class PlayedAudio {
public:
    explicit PlayedAudio(const std::string& path)
        : m_watcher([this, path] {
              std::error_code error;
              const auto start = std::filesystem::file_size(path, error);
              for (auto size = start; !m_stop; std::this_thread::sleep_for(std::chrono::milliseconds(1))) {
                  const auto now = std::filesystem::file_size(path, error);
                  if (error || now == size)
                      continue;
                  size = now;
                  m_last = Now();
                  if (m_first == 0)
                      m_first = m_last.load();
              }
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
    std::atomic<bool> m_stop{false};
    std::atomic<int64_t> m_first{0};
    std::atomic<int64_t> m_last{0};
    std::thread m_watcher;
};

std::vector<VirtualLineChange> LineChanges()
{
    std::vector<VirtualLineChange> changes(VirtualPortLineChanges(kPortName, nullptr, 0));
    changes.resize(VirtualPortLineChanges(kPortName, changes.data(), changes.size()));
    return changes;
}

// Handles the module's messages for `span`, or until `done`.
template <class Done>
void Pump(Rig& rig, std::chrono::milliseconds span, Done done)
{
    for (const auto end = Clock::now() + span; !done() && Clock::now() < end;) {
        pollfd fd = {rig.window.QueueFd(), POLLIN, 0};
        poll(&fd, 1, 10);
        rig.window.Dispatch();
    }
}

TEST(DgtermPtt, KeysRtsOnlyAroundThePlayedAudio)
{
    const std::string playback = rz::test::dgterm::TempPath("played.wav");
    setenv(("RUZADA_COM" + std::to_string(kComPort)).c_str(), (std::string("virtual:") + kPortName).c_str(), 1);
    setenv("RUZADA_AUDIODRIVER", "file", 1);
    setenv("RUZADA_AUDIO_OUT", playback.c_str(), 1);
    ASSERT_TRUE(VirtualPortCreate(kPortName));
    IgnoredEvents events;
    {
        Rig rig("", events);
        ASSERT_TRUE(rig.Loaded());
        ASSERT_FALSE(rig.Start("RTTY", -1, true));
        PlayedAudio played(playback);
        const auto never = [] { return false; };
        Pump(rig, std::chrono::milliseconds(500), never);
        EXPECT_TRUE(LineChanges().empty()) << "keyed while receiving";

        Ptt ptt(rig.module, kComPort);
        Over over(*rig.station, &ptt);
        std::string error;
        ASSERT_TRUE(over.Begin("CQ CQ DE TEST K\r\n", error)) << error;
        Pump(rig, std::chrono::seconds(40), [&] { return over.Advance(Clock::now()) == Over::Phase::Done; });
        ASSERT_EQ(over.CurrentPhase(), Over::Phase::Done);
        const size_t changesOnTheAir = LineChanges().size();
        Pump(rig, std::chrono::milliseconds(500), never);
        played.Stop();
        EXPECT_EQ(LineChanges().size(), changesOnTheAir) << "keyed while receiving";

        const std::vector<VirtualLineChange> changes = LineChanges();
        const auto firstRise = std::find_if(changes.begin(), changes.end(), [](const VirtualLineChange& c) {
            return c.line == VIRTUAL_LINE_RTS && c.raised;
        });
        const auto lastRts = std::find_if(changes.rbegin(), changes.rend(),
                                          [](const VirtualLineChange& c) { return c.line == VIRTUAL_LINE_RTS; });
        ASSERT_NE(firstRise, changes.end());
        ASSERT_NE(lastRts, changes.rend());
        ASSERT_NE(played.First(), 0) << "nothing was played";
        EXPECT_LT(firstRise->time, played.First());
        EXPECT_FALSE(lastRts->raised);
        EXPECT_GT(lastRts->time, played.Last());
        // Unkeyed once the playback position has settled, long before the
        // longest playout the module's queues could need.
        int64_t countsPerSecond = 0;
        ASSERT_TRUE(QueryPerformanceFrequency(&countsPerSecond));
        const std::chrono::duration<double> unkeyedAfter(double(lastRts->time - played.Last()) / countsPerSecond);
        EXPECT_LT(unkeyedAfter, kLongestPlayout / 2);
    }
    VirtualPortDestroy(kPortName);
    std::filesystem::remove(playback);
}

}  // namespace
