// CSound's playback side on real driver runs: buffer arithmetic, blocking,
// draining and flushing.
#include <array>
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

// A write goes out in whole buffers (666 bytes at 8000, 4000 at 48000), each
// counted whole while the driver holds it.
TEST_F(SoundPlayback, WritesGoOutInBuffersCountedWhole)
{
    for (const auto [rate, samples, buffer] : {std::array{8000, 500, 666}, {48000, 3000, 4000}}) {
        m_sound.CloseOut();
        Open(rate);
        const std::vector<int16_t> ramp = Ramp(samples);
        // Held paused, both buffers stay with the driver. Should the test thread
        // be held up long enough for the first to play out, try again.
        int pending = 0;
        for (int attempt = 0; attempt < 5 && pending != 2 * buffer; ++attempt) {
            m_sound.FlushOut();
            ASSERT_TRUE(WaitUntil([&] { return m_sound.GetOutPending() == 0; }));
            ASSERT_EQ(m_sound.WriteOut(ramp.data(), samples), samples);
            waveOutPause(m_sound.GetWaveOutHandle());
            ASSERT_TRUE(WaitUntil([&] { return m_sound.IsOutEmpty(); }));
            ASSERT_TRUE(WaitUntil([&] { return (pending = m_sound.GetOutPending()) != 2 * samples; }));
            EXPECT_TRUE(pending == 2 * buffer || pending == buffer) << pending;
        }
        EXPECT_EQ(pending, 2 * buffer) << rate;
        waveOutRestart(m_sound.GetWaveOutHandle());
        EXPECT_TRUE(WaitUntil([&] { return m_sound.GetOutPending() == 0; }));
    }
}

TEST_F(SoundPlayback, AFullFifoBlocksTheWriterUntilThereIsRoom)
{
    Open();
    const std::vector<int16_t> samples = Ramp(60000);
    std::atomic<bool> writing{true};
    int most = 0;
    const auto start = std::chrono::steady_clock::now();
    auto writer = std::async(std::launch::async, [&] {
        const int written = m_sound.WriteOut(samples.data(), 60000);
        writing = false;
        return written;
    });
    while (writing) {
        most = std::max(most, m_sound.GetOutPending());
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(writer.get(), 60000);
    const auto took = std::chrono::steady_clock::now() - start;
    // 7.5 s of audio: the FIFO's 63920 bytes and 48 buffers of 666 hold 6 s.
    EXPECT_LE(most, 63920 + 48 * 666);
    EXPECT_GE(most, 63920);
    EXPECT_GE(took, 1s);
    EXPECT_LT(took, 30s);
}

// Minus one waits until everything has played; a flush drops what waits at once.
TEST_F(SoundPlayback, WriteMinusOneWaitsForTheAudioAndFlushDropsIt)
{
    Open();
    const std::vector<int16_t> samples = Ramp(40000);  // five seconds
    EXPECT_EQ(m_sound.WriteOut(samples.data(), 0), 0);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(m_sound.WriteOut(samples.data(), 8000), 8000);
    EXPECT_EQ(m_sound.WriteOut(samples.data(), -1), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 900ms);
    EXPECT_EQ(m_sound.GetOutPending(), 0);
    EXPECT_TRUE(m_sound.IsOutEmpty());
    EXPECT_EQ(m_sound.DrainOut(), 0u);

    ASSERT_EQ(m_sound.WriteOut(samples.data(), 40000), 40000);
    m_sound.FlushOut();
    EXPECT_TRUE(m_sound.IsOutEmpty());
    EXPECT_TRUE(WaitUntil([&] { return m_sound.GetOutPending() == 0; }, 2500ms));
}

TEST_F(SoundPlayback, ClosedFailedAndTwiceOpenedPlaybackAnswerWithTheirCodes)
{
    short samples[4] = {};
    EXPECT_EQ(m_sound.WriteOut(samples, 4), -1);
    EXPECT_EQ(m_sound.GetError(), kSoundOutClosed);
    WAVEFORMATEX format = MonoFormat(8000);
    EXPECT_EQ(m_sound.OpenOut(&format, 3), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(m_sound.GetError(), MMSYSERR_BADDEVICEID);
    format.nAvgBytesPerSec = 0;
    EXPECT_EQ(m_sound.OpenOut(&format, WAVE_MAPPER), WAVERR_BADFORMAT);
    EXPECT_EQ(m_sound.IsOutOpen(), 0);
    Open();
    const HWAVEOUT handle = m_sound.GetWaveOutHandle();
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

}  // namespace
}  // namespace rz::test::sound
