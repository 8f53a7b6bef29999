// The FFT thread between the spectrum FIFO and the host: what it transforms,
// what it drops, what it posts.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include <RUZada.h>

#include "SuiteHelpers.h"

#include "audio/Feeders.h"
#include "audio/SoundControl.h"
#include "base/ScopedLock.h"
#include "core/Globals.h"
#include "core/Messages.h"
#include "spectrum/FFTThread.h"

namespace {

using namespace rz::test::support;

std::vector<int16_t> Tone(int bin, double amplitude)
{
    std::vector<int16_t> samples(2048);
    for (int t = 0; t < 2048; ++t)
        samples[t] = static_cast<int16_t>(std::lround(amplitude * std::sin(2 * M_PI * bin * t / 2048.0)));
    return samples;
}

class FFTThreadTest : public ::testing::Test {
protected:
    void Start(DWORD cpuSpeed)
    {
        g_FFTFifo.empty();
        InitializeCriticalSection(&g_csSound);
        SetRate(8000);
        g_hwndHost = m_host.Handle();
        g_hStopRecvEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        g_dwCpuSpeed = cpuSpeed;
        g_bSlowFFT = false;
        g_bSlowMode = 0;
        g_bUseFFT = true;
        g_bRunning = 1;
        InitDFT();
    }
    void TearDown() override
    {
        g_bRunning = 0;
        SetEvent(g_hStopRecvEvent);
        EXPECT_TRUE(WaitUntil([] { return !g_bFFTThreadAlive; }));
        CloseHandle(g_hStopRecvEvent);
        DeleteCriticalSection(&g_csSound);
        g_hwndHost = nullptr;
    }
    static void SetRate(DWORD rate)
    {
        CScopedLock hold(&g_csSound);
        g_WaveFormat.nSamplesPerSec = rate;
    }
    // Handles posts until the FIFO holds less than a block and `count` spectra came.
    bool PumpUntilPosted(size_t count)
    {
        return m_host.PumpUntil([&] { return Posted().size() >= count && g_FFTFifo.size() < 4096; });
    }
    std::vector<Received> Posted() const { return m_host.Messages(g_uMsgRawData); }
    static void Queue(const std::vector<int16_t>& samples)
    {
        g_FFTFifo.write(samples.data(), static_cast<int>(samples.size() * 2));
    }
    DebugLines m_debug;
    RecordingWindow m_host;
};

// Each transformed block posts the rate and the level; the FIFO is not the meter:
// nothing was metered, so level 0 goes out as 1.
TEST_F(FFTThreadTest, RangeChecksRefuseAndABatchIsTrimmedToItsNewestBlockWhichPostsTheRateAndTheLevel)
{
    Start(2000);
    EXPECT_EQ(m_debug.Lines(), std::vector<std::string>{"RUZada::InitDFT: Detected 2000 kHz machine.\r\n"});
    // Requests out of range are refused without writing; the cleared spectrum
    // has no overload.
    std::vector<int32_t> data(2048, -7);
    const int refused[][3] = {{100, 10, 101}, {100, 10, 9}, {2047, 1000, 1024}, {2047, -1, 5}};
    for (const auto& [maxBin, first, last] : refused)
        EXPECT_EQ(GetDGFFTData(data.data(), maxBin, first, last), 1) << first << " to " << last;
    EXPECT_EQ(GetDGFFTData(nullptr, 100, 0, 10), 1);
    EXPECT_EQ(data, std::vector<int32_t>(2048, -7));
    EXPECT_EQ(GetDGFFTData(data.data(), 100, 10, 20), 0);
    EXPECT_EQ(GetDGFFTData(data.data(), 100, 5, 5), 0);
    for (int b = 0; b < 2048; ++b)
        EXPECT_EQ(data[b], (b >= 10 && b <= 20) || b == 5 ? 0 : -7) << b;
    // Each sample carries its own index, so the block the thread kept is known:
    // 20000 bytes trimmed to 15904, 11808 and 7712, then samples 6144 to 8191 taken.
    std::vector<int16_t> batch(10000);
    for (int i = 0; i < 10000; ++i)
        batch[i] = static_cast<int16_t>(i);
    Queue(batch);
    ASSERT_TRUE(PumpUntilPosted(1));
    ASSERT_EQ(Posted().size(), 1u);
    EXPECT_EQ(Posted()[0].wParam, 8000u);
    EXPECT_EQ(Posted()[0].lParam, 1);
    ASSERT_EQ(g_FFTFifo.size(), 3616);
    std::vector<int16_t> left(1808);
    g_FFTFifo.read(left.data(), 3616);
    EXPECT_EQ(left.front(), 8192);
    EXPECT_EQ(left.back(), 9999);

    CDFT reference;
    reference.Configure(1, 5.0, 1);
    std::vector<double> block(batch.begin() + 6144, batch.begin() + 8192);
    reference.Process(block.data());
    std::vector<int32_t> expected(1024), actual(1024);
    reference.GetSpectrum(0, 1023, expected.data());
    EXPECT_EQ(GetDGFFTData(actual.data(), 1023, 0, 1023), 0);
    EXPECT_EQ(actual, expected);

    SetRate(48000);
    Queue(Tone(256, 32767));
    ASSERT_TRUE(PumpUntilPosted(2));
    EXPECT_EQ(Posted()[1].wParam, 48000u);
    EXPECT_EQ(GetDGFFTData(actual.data(), 1023, 250, 260), 1) << "the tone peaks above 29491.2";
    // Before the engine is ready every request is refused.
    g_bDFTReady = 0;
    EXPECT_EQ(GetDGFFTData(data.data(), 100, 30, 30), 1);
    EXPECT_EQ(data[30], -7);
}

// Below 1500 kHz every other block is transformed (each posts a rate of its own,
// naming it); from 1500 on, that slow mode follows the setting.
TEST_F(FFTThreadTest, SlowMachineTransformsEveryOtherBlockAndOthersFollowTheSetting)
{
    Start(1499);
    EXPECT_EQ(g_bSlowMachine, 1);
    for (int block = 1; block <= 7; ++block) {
        SetRate(8000 + block);
        Queue(Tone(64 * block, 8000));
        ASSERT_TRUE(PumpUntilPosted((block + 1) / 2)) << "block " << block;
    }
    std::vector<WPARAM> rates;
    for (const Received& post : Posted())
        rates.push_back(post.wParam);
    EXPECT_EQ(rates, (std::vector<WPARAM>{8001, 8003, 8005, 8007}));
    TearDown();

    Start(1500);
    EXPECT_EQ(g_bSlowMachine, 0);
    g_bSlowFFT = true;
    EXPECT_TRUE(WaitUntil([] { return g_bSlowMode == 1; }));
    g_bSlowFFT = false;
    EXPECT_TRUE(WaitUntil([] { return g_bSlowMode == 0; }));
}

}  // namespace
