// A capture read never meets a close: opens and closes race reads, through the
// module's controls as the receive thread meets them, and on the object alone.
#include <atomic>
#include <thread>

#include <RUZada.h>

#include "SoundTestSupport.h"
#include "audio/Sound.h"
#include "base/ScopedLock.h"
#include "core/Globals.h"

namespace rz::test::sound {
namespace {

constexpr auto kRaceTime = 1500ms;
// Opens and closes can come so fast that the driver delivers nothing in between:
// the race goes on until some capture has been read, up to this long.
constexpr auto kRaceLimit = 15s;

// Capture plays a ramp file from its start at each open, then silence: within
// one read every sample follows the one before, or the file has ended. A read
// that met a close would hand out a buffer the driver no longer fills.
bool Continues(int16_t before, int16_t sample) { return sample == 0 || (before != 0 && sample == before % 32767 + 1); }

// Reads as the receive thread does until told to stop; counts what it got.
struct Reader {
    std::atomic<bool> running{true};
    std::atomic<long> samples{0};
    std::atomic<int> badResults{0};

    void Read(CSound& sound, CRITICAL_SECTION* lock)
    {
        std::vector<int16_t> buffer(4096);
        while (running) {
            {
                CScopedLock held(lock);
                const int read = sound.ReadIn(buffer.data(), 4096);
                if (read < -1 || read > 4096)
                    ++badResults;
                for (int i = 1; i < read; ++i)
                    badResults += !Continues(buffer[i - 1], buffer[i]);
                if (read > 0)
                    samples += read;
            }
            // The receive thread's pause between passes, shortened.
            std::this_thread::sleep_for(1ms);
        }
    }
};

bool RaceGoesOn(std::chrono::steady_clock::time_point start, const Reader& reader)
{
    const auto elapsed = std::chrono::steady_clock::now() - start;
    return elapsed < kRaceTime || (reader.samples == 0 && elapsed < kRaceLimit);
}

// Unpaced capture from a ramp: there is always something to read, and its order shows.
class RaceTest : public ModuleState {
protected:
    void SetUp() override
    {
        m_files.CaptureFrom(8000, Ramp(4 * 32767));
        ModuleState::SetUp();
    }
    FileAudio m_files;
};

TEST_F(RaceTest, RateAndDeviceChangesNeverMeetTheReceiveThreadsRead)
{
    Reader reader;
    std::thread receive([&] { reader.Read(*g_pSound.load(), &g_csSound); });
    const auto start = std::chrono::steady_clock::now();
    int changes = 0;
    for (int round = 0; RaceGoesOn(start, reader); ++round) {
        EXPECT_EQ(SetDGFreq(8000.0), 1);
        SetDGSoundMode(2, round % 2 ? 0 : -1);
        EXPECT_EQ(SetDGFreq(0.0), 1);
        changes += 3;
    }
    reader.running = false;
    receive.join();
    EXPECT_GT(changes, 30);
    EXPECT_GT(reader.samples, 0);
    EXPECT_EQ(reader.badResults, 0);
}

TEST_F(RaceTest, OpensAndClosesOfTheObjectAloneNeverMeetItsReads)
{
    CSound sound;
    Reader reader;
    std::thread reading([&] { reader.Read(sound, nullptr); });
    const WAVEFORMATEX format = MonoFormat(8000);
    const auto start = std::chrono::steady_clock::now();
    for (int round = 0; RaceGoesOn(start, reader); ++round) {
        EXPECT_EQ(sound.OpenIn(&format, WAVE_MAPPER), 0u);
        // Mostly back to back, but now and then held open long enough for a
        // loaded machine to schedule the capture thread at all.
        std::this_thread::sleep_for(std::chrono::milliseconds(round % 8));
        sound.CloseIn();
    }
    reader.running = false;
    reading.join();
    EXPECT_GT(reader.samples, 0);
    EXPECT_EQ(reader.badResults, 0);
}

}  // namespace
}  // namespace rz::test::sound
