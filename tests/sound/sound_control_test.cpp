// SetDGFreq, GetDGFreq, SetDGSoundMode and GetDGSoundCount over the loopback,
// and capture reads that never meet a close: opens and closes race reads, through
// the module's controls as the receive thread meets them, and on the object alone.
#include <atomic>
#include <thread>
#include <tuple>

#include <RUZada.h>

#include "SoundTestSupport.h"
#include "audio/Sound.h"
#include "audio/SoundControl.h"
#include "base/ScopedLock.h"
#include "core/Globals.h"
#include "core/Messages.h"
#include "modes/ModeList.h"
#include "util/SystemErrorText.h"

namespace rz::test::sound {
namespace {

class SampleRate : public ModuleState {
protected:
    void SetUp() override
    {
        UseDriver("loopback");
        ModuleState::SetUp();
    }
    CSound& Sound() { return *g_pSound.load(); }
    bool Running() { return Sound().IsInOpen() && Sound().IsOutOpen(); }
    bool XmitWoken() { return WaitForSingleObject(g_hXmitEvent, 0) == WAIT_OBJECT_0; }
};

// The card's format as the rate's rule sets it.
std::tuple<DWORD, DWORD, WORD, WORD> CardFormat()
{
    const WAVEFORMATEX format = g_WaveFormat;
    return {format.nSamplesPerSec, format.nAvgBytesPerSec, format.wBitsPerSample, format.nBlockAlign};
}

// Every rate but zero runs the card at 8000, or six times that with 48 kHz; a
// second call with the same rate leaves the card untouched.
TEST_F(SampleRate, EveryRateButZeroRunsTheCardAt8000OrSixTimesFaster)
{
    for (const bool use48 : {false, true}) {
        g_bUse48KHz = use48;
        const DWORD rate = use48 ? 48000 : 8000;
        for (double freq : {11025.0, -3.0, 1.0, 8000.0}) {
            EXPECT_EQ(SetDGFreq(0.5), 1);
            EXPECT_FALSE(Sound().IsInOpen() || Sound().IsOutOpen());
            EXPECT_EQ(GetDGFreq(), 0.0);
            EXPECT_EQ(SetDGFreq(freq), 1) << freq;
            EXPECT_TRUE(Running()) << freq;
            EXPECT_EQ(CardFormat(), std::make_tuple(rate, 2 * rate, WORD{16}, WORD{2}));
            EXPECT_EQ(GetDGFreq(), 8000.0);
        }
        const auto handles = std::pair(Sound().GetWaveInHandle(), Sound().GetWaveOutHandle());
        EXPECT_EQ(SetDGFreq(8000.0), 1);
        EXPECT_EQ(std::pair(Sound().GetWaveInHandle(), Sound().GetWaveOutHandle()), handles);
    }
    EXPECT_EQ(g_nOpenSoundDevice, -1);
}

TEST_F(SampleRate, RunningTheCardWakesTheTransmitThreadWhileTransmitting)
{
    g_dwSoundMode = 1;
    ASSERT_EQ(SetDGFreq(8000.0), 1);
    EXPECT_TRUE(XmitWoken());
    g_dwSoundMode = 2;
    ASSERT_EQ(SetDGFreq(0.0), 1);
    ASSERT_EQ(SetDGFreq(8000.0), 1);
    EXPECT_FALSE(XmitWoken());
}

TEST_F(SampleRate, ADeviceThatFailsToOpenIsShownAndReported)
{
    MessageBoxes boxes;
    const WAVEFORMATEX format = MonoFormat(8000);
    HWAVEIN taken = nullptr;
    ASSERT_EQ(waveInOpen(&taken, 0, &format, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    EXPECT_EQ(SetDGFreq(8000.0), 0);
    EXPECT_FALSE(Sound().IsInOpen() || Sound().IsOutOpen());
    ASSERT_EQ(waveInClose(taken), MMSYSERR_NOERROR);

    HWAVEOUT takenOut = nullptr;
    ASSERT_EQ(waveOutOpen(&takenOut, 0, &format, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    ASSERT_EQ(SetDGFreq(0.0), 1);
    EXPECT_EQ(SetDGFreq(8000.0), 0);
    // The other direction is not rolled back.
    EXPECT_TRUE(Sound().IsInOpen());
    EXPECT_FALSE(Sound().IsOutOpen());
    ASSERT_EQ(waveOutClose(takenOut), MMSYSERR_NOERROR);

    // The caption is the system's, as none is given.
    const std::string errorText = static_cast<const char*>(SystemErrorText(MMSYSERR_ALLOCATED));
    EXPECT_EQ(boxes.All(), (std::vector<MessageBoxes::Shown>{
                               {nullptr, "Soundcard In Open:\n" + errorText, "Error", MB_ICONEXCLAMATION},
                               {nullptr, "Soundcard Out Open:\n" + errorText, "Error", MB_ICONEXCLAMATION}}));
}

TEST_F(SampleRate, AModeWithoutSoundCardClosesItAndKeepsTheRate)
{
    ASSERT_EQ(SetDGFreq(8000.0), 1);
    auto* record = new CModeRecord;
    record->m_Setup.qwMode = 0x40000;
    record->m_Setup.bNoSoundCard = 1;
    g_ModeList.Append(record);
    g_qwCurrentMode = 0x40000;
    EXPECT_EQ(SetDGFreq(8000.0), 1);
    EXPECT_FALSE(Sound().IsInOpen() || Sound().IsOutOpen());
    EXPECT_EQ(GetDGFreq(), 8000.0);
    EXPECT_EQ(g_bNoSoundCard, 1);

    record->m_Setup.bNoSoundCard = 0;
    record->m_Setup.bNoSoundInput = 1;
    EXPECT_EQ(SetDGFreq(0.0), 1);
    EXPECT_EQ(SetDGFreq(8000.0), 1);
    EXPECT_FALSE(Sound().IsInOpen());
    EXPECT_TRUE(Sound().IsOutOpen());
    for (CModeRecord* taken : g_ModeList.TakeAll())
        delete taken;
}

class SoundMode : public SampleRate {
protected:
    void SetUp() override
    {
        SampleRate::SetUp();
        g_hwndHost = m_window.Handle();
    }
    void TearDown() override
    {
        g_hwndHost = nullptr;
        SampleRate::TearDown();
    }
    // The transmit and receive states posted so far.
    std::vector<std::pair<WPARAM, LPARAM>> Posted()
    {
        m_window.Drain();
        std::vector<std::pair<WPARAM, LPARAM>> posted;
        for (const Received& post : m_window.Messages(g_uMsgXmitRecv))
            posted.emplace_back(post.wParam, post.lParam);
        return posted;
    }
    RecordingWindow m_window;
};

TEST_F(SoundMode, SwitchingToTransmitFlushesReappliesPostsAndWakes)
{
    ASSERT_EQ(SetDGFreq(8000.0), 1);
    SetDGSoundMode(2, -1);
    ASSERT_TRUE(Running());
    const HWAVEIN in = Sound().GetWaveInHandle();
    const std::vector<int16_t> leftover = Ramp(16000);
    ASSERT_EQ(Sound().WriteOut(leftover.data(), 16000), 16000);
    XmitWoken();

    SetDGSoundMode(1, -1);
    EXPECT_TRUE(Sound().IsOutEmpty());
    EXPECT_TRUE(WaitUntil([&] { return Sound().GetOutPending() == 0; }));
    EXPECT_EQ(Sound().GetWaveInHandle(), in);
    EXPECT_EQ(g_dwSoundMode, 1u);
    EXPECT_TRUE(XmitWoken());
    EXPECT_EQ(g_bModeBusy, 0);
    EXPECT_EQ(Posted(), (std::vector<std::pair<WPARAM, LPARAM>>{{0, 1}, {1, 0}}));
}

TEST_F(SoundMode, ADeviceOutOfRangeSelectsTheDefaultAndReopens)
{
    ASSERT_EQ(waveInGetNumDevs(), 1u);
    ASSERT_EQ(SetDGFreq(8000.0), 1);
    SetDGSoundMode(2, 0);
    ASSERT_TRUE(Running());
    EXPECT_EQ(std::pair(g_nSoundDevice, g_nOpenSoundDevice), std::pair(0, 0));
    const HWAVEIN onDevice0 = Sound().GetWaveInHandle();

    SetDGSoundMode(2, 99);
    EXPECT_EQ(std::pair(g_nSoundDevice, g_nOpenSoundDevice), std::pair(-1, -1));
    EXPECT_TRUE(Running());
    EXPECT_NE(Sound().GetWaveInHandle(), onDevice0);

    SetDGSoundMode(3, -7);
    EXPECT_EQ(g_nSoundDevice, -1);
    EXPECT_EQ(Posted().back(), (std::pair<WPARAM, LPARAM>{1, 1}));
}

TEST_F(SoundMode, WithoutTheSoundObjectNothingRunsButTheModeIsStillStoredAndPosted)
{
    CSound* sound = g_pSound.exchange(nullptr);
    EXPECT_EQ(SetDGFreq(8000.0), 0);
    EXPECT_EQ(GetDGFreq(), 0.0);
    SetDGSoundMode(1, 0);
    EXPECT_EQ(g_dwSoundMode, 1u);
    EXPECT_EQ(g_nSoundDevice, 0);
    EXPECT_EQ(Posted(), (std::vector<std::pair<WPARAM, LPARAM>>{{1, 0}}));
    g_pSound = sound;
}

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
