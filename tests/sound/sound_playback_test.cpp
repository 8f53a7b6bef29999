// CSound's playback side on real driver runs: buffer arithmetic, blocking,
// draining and flushing.
#include <future>

#include "SoundTestSupport.h"
#include "audio/Sound.h"

namespace rz::test::sound {
namespace {

class SoundPlayback : public ::testing::Test {
protected:
    void SetUp() override { UseDriver("null"); }
    void TearDown() override { m_sound.CloseOut(); }
    void Open(uint32_t rate = 8000)
    {
        const WAVEFORMATEX format = MonoFormat(rate);
        ASSERT_EQ(m_sound.OpenOut(&format, WAVE_MAPPER), 0u);
    }
    CSound m_sound;
};

TEST_F(SoundPlayback, AThousandBytesGoOutAsTwoBuffersCountedWhole)
{
    Open();
    const std::vector<int16_t> samples = Ramp(500);
    // Held paused, the two buffers stay with the driver. Should the test thread
    // be held up long enough for the first to play out, try again.
    int pending = 0;
    for (int attempt = 0; attempt < 5 && pending != 1332; ++attempt) {
        m_sound.FlushOut();
        ASSERT_TRUE(WaitFor([&] { return m_sound.GetOutPending() == 0; }, 5s));
        ASSERT_EQ(m_sound.WriteOut(samples.data(), 500), 500);
        waveOutPause(m_sound.GetWaveOutHandle());
        ASSERT_TRUE(WaitFor([&] { return m_sound.IsOutEmpty(); }, 5s));
        ASSERT_TRUE(WaitFor([&] { return (pending = m_sound.GetOutPending()) != 1000; }, 5s));
        EXPECT_TRUE(pending == 1332 || pending == 666) << pending;
    }
    EXPECT_EQ(pending, 1332);
    waveOutRestart(m_sound.GetWaveOutHandle());
    EXPECT_TRUE(WaitFor([&] { return m_sound.GetOutPending() == 0; }, 5s));
}

TEST_F(SoundPlayback, AFullFifoBlocksTheWriterUntilThereIsRoom)
{
    Open();
    const std::vector<int16_t> samples = Ramp(100000);
    std::atomic<bool> writing{true};
    int most = 0;
    const auto start = std::chrono::steady_clock::now();
    auto writer = std::async(std::launch::async, [&] {
        const int written = m_sound.WriteOut(samples.data(), 100000);
        writing = false;
        return written;
    });
    while (writing) {
        most = std::max(most, m_sound.GetOutPending());
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(writer.get(), 100000);
    const auto took = std::chrono::steady_clock::now() - start;
    // 12.5 s of audio: the FIFO's 63920 bytes and 48 buffers of 666 hold 6 s.
    EXPECT_LE(most, 63920 + 48 * 666);
    EXPECT_GE(most, 63920);
    EXPECT_GE(took, 5s);
    EXPECT_LT(took, 30s);
}

TEST_F(SoundPlayback, WriteMinusOneWaitsUntilEverythingHasPlayed)
{
    Open();
    const std::vector<int16_t> samples = Ramp(8000);    // one second
    EXPECT_EQ(m_sound.WriteOut(samples.data(), 0), 0);  // idle: at once
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(m_sound.WriteOut(samples.data(), 8000), 8000);
    EXPECT_EQ(m_sound.WriteOut(samples.data(), -1), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 900ms);
    EXPECT_EQ(m_sound.GetOutPending(), 0);
    EXPECT_TRUE(m_sound.IsOutEmpty());
    EXPECT_EQ(m_sound.DrainOut(), 0u);
}

TEST_F(SoundPlayback, FlushFreesEveryHeader)
{
    Open();
    const std::vector<int16_t> samples = Ramp(24000);  // three seconds
    ASSERT_EQ(m_sound.WriteOut(samples.data(), 24000), 24000);
    ASSERT_TRUE(WaitFor([&] { return m_sound.GetOutPending() > 30000; }, 5s));
    m_sound.FlushOut();
    EXPECT_TRUE(m_sound.IsOutEmpty());
    EXPECT_TRUE(WaitFor([&] { return m_sound.GetOutPending() == 0; }, 5s));
}

TEST_F(SoundPlayback, At48000BuffersHold4000Bytes)
{
    Open(48000);
    const std::vector<int16_t> samples = Ramp(3000);
    ASSERT_EQ(m_sound.WriteOut(samples.data(), 3000), 3000);
    waveOutPause(m_sound.GetWaveOutHandle());
    ASSERT_TRUE(WaitFor([&] { return m_sound.IsOutEmpty(); }, 5s));
    // 6000 bytes: 4000 and 2000, each counted as a whole buffer.
    EXPECT_TRUE(WaitFor([&] { return m_sound.GetOutPending() == 8000; }, 5s));
}

TEST_F(SoundPlayback, ClosedPlaybackAnswersMinusOneWithError114)
{
    short samples[4] = {};
    EXPECT_EQ(m_sound.WriteOut(samples, 4), -1);
    EXPECT_EQ(m_sound.GetError(), kSoundOutClosed);
    Open();
    const HWAVEOUT handle = m_sound.GetWaveOutHandle();
    const WAVEFORMATEX format = MonoFormat(8000);
    EXPECT_EQ(m_sound.OpenOut(&format, WAVE_MAPPER), MMSYSERR_ALLOCATED);
    EXPECT_EQ(m_sound.GetWaveOutHandle(), handle);
    m_sound.CloseOut();
    m_sound.CloseOut();
    EXPECT_EQ(m_sound.IsOutOpen(), 0);
    EXPECT_EQ(m_sound.GetWaveOutHandle(), nullptr);
    EXPECT_EQ(m_sound.WriteOut(samples, 0), -1);
    EXPECT_EQ(m_sound.GetError(), kSoundOutClosed);
    m_sound.FlushOut();
    EXPECT_EQ(m_sound.GetOutPending(), 0);
}

TEST_F(SoundPlayback, AFailedOpenLeavesPlaybackClosedAndCanBeRetried)
{
    const WAVEFORMATEX format = MonoFormat(8000);
    EXPECT_EQ(m_sound.OpenOut(&format, 3), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(m_sound.GetError(), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(m_sound.IsOutOpen(), 0);
    WAVEFORMATEX bad = format;
    bad.nAvgBytesPerSec = 0;
    EXPECT_EQ(m_sound.OpenOut(&bad, WAVE_MAPPER), WAVERR_BADFORMAT);
    Open();
    EXPECT_EQ(m_sound.IsOutOpen(), 1);
}

}  // namespace
}  // namespace rz::test::sound
