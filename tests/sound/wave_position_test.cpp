// How far a wave device has got: waveInGetPosition and waveOutGetPosition on each
// clock-paced backend, and the host's view of the newest open device.
#include <tuple>

#include "SoundTestSupport.h"

namespace rz::test::sound {
namespace {

constexpr size_t kBuffers = 3;
constexpr DWORD kFrames = 160;  // 20 ms at 8 kHz
// A stray byte that no 16-bit frame fills: it is neither moved nor counted.
constexpr DWORD kBufferBytes = 2 * kFrames + 1;

BOOL OpenPosition(bool capture, DWORD* samples)
{
    return capture ? GetOpenWaveInPosition(samples) : GetOpenWaveOutPosition(samples);
}

class WavePosition : public ::testing::TestWithParam<std::tuple<const char*, bool>> {
protected:
    void SetUp() override
    {
        UseDriver(std::get<0>(GetParam()));
        WriteWav(m_dir.Path("in.wav"), 8000, Ramp(2 * kBuffers * kFrames));
        SetVariable("RUZADA_AUDIO_IN", m_dir.Path("in.wav").c_str());
        SetVariable("RUZADA_AUDIO_OUT", m_dir.Path("out.wav").c_str());
    }
    void TearDown() override
    {
        SetVariable("RUZADA_AUDIO_IN", nullptr);
        SetVariable("RUZADA_AUDIO_OUT", nullptr);
    }
    TempDir m_dir;
};

TEST_P(WavePosition, CountsTheFramesOfReturnedBuffersUntilReset)
{
    const bool capture = std::get<1>(GetParam());
    const UINT done = capture ? WIM_DATA : WOM_DONE;
    CallbackLog log;
    Buffers buffers(kBuffers + 1, kBufferBytes);
    DWORD samples = 99;
    {
        WaveDevice device(capture, MonoFormat(8000), &log);
        ASSERT_TRUE(OpenPosition(capture, &samples));
        EXPECT_EQ(samples, 0u);
        EXPECT_EQ(device.Position(TIME_SAMPLES), std::make_pair(TIME_SAMPLES, DWORD{0}));

        for (size_t i = 0; i < kBuffers; ++i)
            ASSERT_EQ(device.Queue(buffers.headers[i]), MMSYSERR_NOERROR);
        ASSERT_TRUE(WaitUntil([&] { return log.Count(done) == kBuffers; }));
        // Counted before its callback, and each buffer on its own.
        for (size_t i = 0; i < kBuffers; ++i)
            EXPECT_EQ(log.Calls(done)[i].position, (i + 1) * kFrames) << "buffer " << i;

        const DWORD frames = kBuffers * kFrames;
        EXPECT_EQ(device.Position(TIME_SAMPLES), std::make_pair(TIME_SAMPLES, frames));
        // Bytes, and bytes for every format the driver does not keep.
        for (const UINT format : {TIME_BYTES, TIME_MS, TIME_SMPTE, TIME_MIDI, TIME_TICKS, 0u})
            EXPECT_EQ(device.Position(format), std::make_pair(TIME_BYTES, 2 * frames)) << "format " << format;
        ASSERT_TRUE(OpenPosition(capture, &samples));
        EXPECT_EQ(samples, frames);

        // Counting starts again from a reset.
        ASSERT_EQ(device.Reset(), MMSYSERR_NOERROR);
        EXPECT_EQ(device.Position(TIME_SAMPLES).second, 0u);
        ASSERT_EQ(device.Queue(buffers.headers[kBuffers]), MMSYSERR_NOERROR);
        ASSERT_TRUE(WaitUntil([&] { return log.Count(done) == kBuffers + 1; }));
        EXPECT_EQ(device.Position(TIME_SAMPLES).second, kFrames);
        EXPECT_EQ(log.Calls(done)[kBuffers].position, kFrames);
    }
    EXPECT_FALSE(OpenPosition(capture, &samples));
}

INSTANTIATE_TEST_SUITE_P(Backends, WavePosition,
                         ::testing::Combine(::testing::Values("loopback", "null", "file"), ::testing::Bool()),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param)) +
                                    (std::get<1>(info.param) ? "_capture" : "_playback");
                         });

TEST(WavePositionArguments, BadArgumentsGetTheirCodes)
{
    UseDriver("null");
    const WAVEFORMATEX format = MonoFormat(8000);
    WaveDevice in(true, format), out(false, format), closedIn(true, format), closedOut(false, format);
    const std::tuple<bool, void*, void*> directions[] = {{true, in.Handle(), closedIn.Handle()},
                                                         {false, out.Handle(), closedOut.Handle()}};
    ASSERT_EQ(closedIn.Close(), MMSYSERR_NOERROR);
    ASSERT_EQ(closedOut.Close(), MMSYSERR_NOERROR);
    MMTIME time = {};
    for (const auto& [capture, open, closed] : directions) {
        struct Case {
            const char* what;
            void* device;
            MMTIME* time;
            UINT size;
            MMRESULT expected;
        };
        const Case cases[] = {
            {"no time", open, nullptr, sizeof time, MMSYSERR_INVALPARAM},
            {"short time", open, &time, sizeof time - 1, MMSYSERR_INVALPARAM},
            {"empty time", open, &time, 0, MMSYSERR_INVALPARAM},
            {"closed handle", closed, &time, sizeof time, MMSYSERR_INVALHANDLE},
            {"unknown handle", reinterpret_cast<void*>(0x7fff0000), &time, sizeof time, MMSYSERR_INVALHANDLE},
            {"no handle", nullptr, &time, sizeof time, MMSYSERR_INVALHANDLE},
            {"the other direction's handle", capture ? out.Handle() : in.Handle(), &time, sizeof time,
             MMSYSERR_INVALHANDLE},
            {"larger time", open, &time, sizeof time + 4, MMSYSERR_NOERROR},
        };
        for (const Case& c : cases)
            EXPECT_EQ(WaveDevice::Position(capture, c.device, c.time, c.size), c.expected)
                << (capture ? "capture, " : "playback, ") << c.what;
        EXPECT_FALSE(OpenPosition(capture, nullptr));
    }
}

TEST(WavePositionOfOpenDevice, FollowsTheNewestOpenDeviceOfItsDirection)
{
    UseDriver("null");
    const WAVEFORMATEX format = MonoFormat(8000);
    DWORD samples = 12345;
    EXPECT_FALSE(GetOpenWaveOutPosition(&samples));
    EXPECT_EQ(samples, 12345u) << "untouched when nothing is open";
    {
        CallbackLog log;
        WaveDevice older(false, format, &log);
        Buffers buffers(1, kBufferBytes);
        ASSERT_EQ(older.Queue(buffers.headers[0]), MMSYSERR_NOERROR);
        ASSERT_TRUE(WaitUntil([&] { return log.Count(WOM_DONE) == 1; }));
        ASSERT_TRUE(GetOpenWaveOutPosition(&samples));
        EXPECT_EQ(samples, kFrames);
        {
            WaveDevice newer(false, format);
            ASSERT_TRUE(GetOpenWaveOutPosition(&samples));
            EXPECT_EQ(samples, 0u) << "the newer device";
            samples = 12345;
            EXPECT_FALSE(GetOpenWaveInPosition(&samples)) << "no capture device is open";
            EXPECT_EQ(samples, 12345u);
        }
        ASSERT_TRUE(GetOpenWaveOutPosition(&samples));
        EXPECT_EQ(samples, kFrames) << "the older device again";
    }
    EXPECT_FALSE(GetOpenWaveOutPosition(&samples));
}

}  // namespace
}  // namespace rz::test::sound
