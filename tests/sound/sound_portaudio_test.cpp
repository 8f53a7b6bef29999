// The card through PortAudio for real, against a PulseAudio daemon with a null
// sink: real time, nothing lost, a card whose server dies goes on as a zombie
// and opens on the server again once it is back, and one whose server hangs
// still closes.
#include <atomic>
#include <cstdio>
#include <thread>

#include <RUZada.h>

#include "SoundTestSupport.h"
#include "audio/Sound.h"
#include "audio/SoundControl.h"
#include "base/ScopedLock.h"
#include "core/Globals.h"

// PulseAudio's client library hands audio over through shared-memory rings and
// waits on its own recursive locks, both out of ThreadSanitizer's sight.
extern "C" const char* __tsan_default_suppressions()
{
    return "race:libpulsecommon\n"
           "race:libpulse.so\n"
           "mutex:libpulse.so\n"
           "deadlock:libpulse.so\n"
           "called_from_lib:libpulsecommon\n";
}

namespace rz::test::sound {
namespace {

using Clock = std::chrono::steady_clock;

std::string RunScript(const char* action)
{
    const std::string script = RUZADA_TESTS_DIR "/sound/pulse-null-sink.sh";
    const std::string command = "'" + script + "' " + action + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return "cannot run " + script;
    std::string output;
    char chunk[256];
    while (fgets(chunk, sizeof chunk, pipe))
        output += chunk;
    const int status = pclose(pipe);
    if (status == 0)
        return "";
    return output.empty() ? "exit status " + std::to_string(status) : output;
}

// Whether the non-zero samples of `captured` hold all of `signal`, in order, from
// its first sample on. A player held up on a loaded machine lets the card play
// silence: that may come between the samples.
bool HoldsWhole(std::vector<int16_t> captured, const std::vector<int16_t>& signal)
{
    std::erase(captured, 0);
    const auto start = std::find(captured.begin(), captured.end(), signal.front());
    return captured.end() - start >= static_cast<long>(signal.size()) &&
           std::equal(signal.begin(), signal.end(), start);
}

// What the receive thread does: every 5 ms, whatever is ready, under g_csSound.
class Receiver {
public:
    explicit Receiver(size_t capacity) : m_samples(capacity) {}
    ~Receiver() { Stop(); }
    void Start()
    {
        m_start = Clock::now();
        m_thread = std::thread([this] { Run(); });
    }
    void Stop()
    {
        m_running = false;
        if (m_thread.joinable())
            m_thread.join();
    }
    // Samples per second over the window from `from` after the start to the end.
    double Pace(Clock::duration from) const
    {
        const auto first =
            std::find_if(m_marks.begin(), m_marks.end(), [&](const Mark& m) { return m.when - m_start >= from; });
        if (first == m_marks.end() || first == m_marks.end() - 1)
            return 0;
        const Mark& last = m_marks.back();
        return (last.count - first->count) / std::chrono::duration<double>(last.when - first->when).count();
    }
    // What has come in so far; safe while receiving.
    std::vector<int16_t> Samples() const
    {
        return {m_samples.begin(), m_samples.begin() + static_cast<long>(m_count.load(std::memory_order_acquire))};
    }
    bool Overran() const { return m_overran; }

private:
    struct Mark {
        Clock::time_point when;
        size_t count;
    };
    void Run()
    {
        m_marks.reserve(4096);
        while (m_running) {
            std::this_thread::sleep_for(5ms);
            CScopedLock card(&g_csSound);
            CSound* sound = g_pSound;
            const int space = static_cast<int>(std::min<size_t>(4096, m_samples.size() - m_count.load()));
            const int read = sound->ReadIn(m_samples.data() + m_count, space);
            m_overran = m_overran || sound->GetError() == kSoundInOverrun;
            if (read > 0) {
                m_count.fetch_add(static_cast<size_t>(read), std::memory_order_release);
                m_marks.push_back({Clock::now(), m_count});
            }
        }
    }
    std::vector<short> m_samples;
    std::atomic<size_t> m_count{0};
    std::vector<Mark> m_marks;
    bool m_overran = false;
    std::atomic<bool> m_running{true};
    Clock::time_point m_start;
    std::thread m_thread;
};

class PortAudioCard : public ModuleState {
protected:
    void SetUp() override
    {
        SetVariable("PULSE_RUNTIME_PATH", m_dir.Path("pulse").c_str());
        if (const std::string why = RunScript("start"); !why.empty())
            GTEST_SKIP() << "no PulseAudio daemon for the PortAudio tests: " << why;
        m_started = true;
        UseDriver("portaudio");
        if (waveInGetNumDevs() == 0 || waveOutGetNumDevs() == 0)
            GTEST_SKIP() << "PortAudio lists no sound server device (it was started before the daemon in this process)";
        ModuleState::SetUp();
        m_stateReady = true;
        char failure[256];
        GetWaveFailure(failure, sizeof failure);
    }
    void TearDown() override
    {
        if (m_stateReady)
            ModuleState::TearDown();
        if (m_started)
            RunScript("stop");
        SetVariable("PULSE_RUNTIME_PATH", nullptr);
    }
    // Plays `ramp` while receiving, and checks both paces; `heard` tells when all
    // of it has come back.
    void PlayAndCapture(double rate, const std::vector<int16_t>& ramp, Receiver& receiver,
                        const std::function<bool()>& heard)
    {
        ASSERT_EQ(SetDGFreq(8000.0), 1);
        const size_t count = ramp.size();
        const double seconds = static_cast<double>(count) / rate;
        receiver.Start();
        const auto start = Clock::now();
        // As the transmit thread writes: a batch at a time under g_csSound, so
        // that the receive thread gets its turns.
        const size_t batch = count / 40;
        for (size_t done = 0; done < count; done += batch) {
            CScopedLock card(&g_csSound);
            ASSERT_EQ(g_pSound.load()->WriteOut(ramp.data() + done, static_cast<int>(batch)), static_cast<int>(batch));
        }
        EXPECT_TRUE(WaitUntil([] { return g_pSound.load()->GetOutPending() == 0; }));
        const double played = std::chrono::duration<double>(Clock::now() - start).count();
        EXPECT_GT(played, seconds * 0.8);
        EXPECT_LT(played, seconds * 2.5);
        EXPECT_TRUE(WaitUntil(heard));
        receiver.Stop();
        // Within a quarter: a server held up on a loaded machine delivers late
        // audio in a burst, but a wrong rate is off by half or more.
        const double pace = receiver.Pace(1s);
        EXPECT_GT(pace, rate * 0.75);
        EXPECT_LT(pace, rate * 1.25);
        EXPECT_FALSE(receiver.Overran());
    }
    TempDir m_dir;
    bool m_started = false;
    bool m_stateReady = false;
};

TEST_F(PortAudioCard, At8000EverySamplePlayedComesBackInRealTime)
{
    // The sink runs at 8000 too: the monitor returns the ramp bit for bit. A server
    // starved on a loaded machine may drop captured audio: such a try does not
    // count, while a card that loses samples loses them in every try.
    bool whole = false;
    for (int attempt = 0; attempt < 3 && !whole; ++attempt) {
        Receiver receiver(8000 * 12);
        const std::vector<int16_t> ramp = Ramp(8000 * 3, 1 + attempt * 8000 * 3);
        PlayAndCapture(8000, ramp, receiver, [&] {
            std::vector<int16_t> heard = receiver.Samples();
            std::erase(heard, 0);
            return !heard.empty() && heard.back() == ramp.back();
        });
        whole = HoldsWhole(receiver.Samples(), ramp);
    }
    EXPECT_TRUE(whole);
}

TEST_F(PortAudioCard, At48000TheCardRunsInRealTime)
{
    g_bUse48KHz = true;
    Receiver receiver(48000 * 12);
    // Resampled by the 8000 sink: heard once 5 s have come back.
    PlayAndCapture(48000, Ramp(48000 * 4), receiver, [&] { return receiver.Samples().size() >= 48000 * 5; });
    EXPECT_EQ(g_WaveFormat.nSamplesPerSec, 48000u);
}

TEST_F(PortAudioCard, ALostCardGoesOnAtItsPaceAndOpensAgainOnceTheServerIsBack)
{
    ASSERT_EQ(SetDGFreq(8000.0), 1);
    EXPECT_FALSE(IsWaveDeviceLost());
    Receiver receiver(8000 * 12);
    const auto start = Clock::now();
    receiver.Start();
    ASSERT_TRUE(WaitUntil([&] { return receiver.Samples().size() >= 4000; }));
    RunScript("stop");
    m_started = false;
    ASSERT_TRUE(WaitUntil([] { return IsWaveDeviceLost() == TRUE; }));
    char failure[256] = {};
    EXPECT_TRUE(GetWaveFailure(failure, sizeof failure));
    EXPECT_NE(std::string(failure).find("portaudio"), std::string::npos);
    // Two seconds of silence at the card's pace.
    const auto lost = Clock::now() - start;
    const size_t atLoss = receiver.Samples().size();
    EXPECT_TRUE(WaitUntil([&] { return receiver.Samples().size() >= atLoss + 16000; }));
    receiver.Stop();
    const double pace = receiver.Pace(lost);
    EXPECT_GT(pace, 8000 * 0.8);
    EXPECT_LT(pace, 8000 * 1.2);

    // Asked for again while the server is away, the card opens lost, and the
    // server's devices are no longer listed.
    const UINT listed = waveInGetNumDevs();
    EXPECT_EQ(SetDGFreq(8000.0), 1);
    EXPECT_TRUE(IsWaveDeviceLost());
    EXPECT_LT(waveInGetNumDevs(), listed);
    ASSERT_EQ(RunScript("start"), "");
    m_started = true;
    EXPECT_EQ(SetDGFreq(8000.0), 1);
    EXPECT_FALSE(IsWaveDeviceLost());
    EXPECT_EQ(waveInGetNumDevs(), listed);
    // On the server for real, not a zombie that captures silence: what is played
    // comes back (whole when the machine keeps up; the other tests check that).
    Receiver found(8000 * 6);
    found.Start();
    const std::vector<int16_t> ramp = Ramp(8000);
    {
        CScopedLock card(&g_csSound);
        ASSERT_EQ(g_pSound.load()->WriteOut(ramp.data(), 8000), 8000);
    }
    EXPECT_TRUE(WaitUntil([&] {
        const std::vector<int16_t> heard = found.Samples();
        return std::find(heard.begin(), heard.end(), ramp.back()) != heard.end();
    }));
}

TEST_F(PortAudioCard, ACloseThatTheServerNeverAnswersReturnsAnyway)
{
    HWAVEOUT device = nullptr;
    const WAVEFORMATEX format = MonoFormat(8000);
    ASSERT_EQ(waveOutOpen(&device, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    ASSERT_EQ(RunScript("pause"), "");
    std::atomic<bool> closed{false};
    std::thread host([&] {
        EXPECT_EQ(waveOutClose(device), MMSYSERR_NOERROR);
        closed = true;
    });
    const bool returned = WaitUntil([&] { return closed.load(); }, 5s);
    // The stream closes for real once the server answers again.
    RunScript("resume");
    host.join();
    EXPECT_TRUE(returned) << "the close waited for the server";
}

}  // namespace
}  // namespace rz::test::sound
