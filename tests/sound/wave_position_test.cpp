// How far a wave device has got, on each clock-paced backend, as the host sees
// it: the newest open device of each direction.
#include <optional>
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

// The newest open device's position in its direction; nothing, and the value left
// alone, while none is open.
std::optional<DWORD> OpenDevicePosition(bool capture)
{
    DWORD samples = 12345;
    const bool open = OpenPosition(capture, &samples);
    EXPECT_TRUE(open || samples == 12345);
    return open ? std::optional(samples) : std::nullopt;
}

class WavePosition : public ::testing::TestWithParam<std::tuple<const char*, bool>> {
protected:
    void SetUp() override
    {
        m_files.CaptureFrom(8000, Ramp(2 * kBuffers * kFrames));
        SetVariable("RUZADA_AUDIO_PACE", nullptr);
        UseDriver(std::get<0>(GetParam()));
    }
    FileAudio m_files;
};

TEST_P(WavePosition, CountsTheFramesOfReturnedBuffersUntilReset)
{
    const bool capture = std::get<1>(GetParam());
    const UINT done = capture ? WIM_DATA : WOM_DONE;
    CallbackLog log;
    Buffers buffers(kBuffers + 1, kBufferBytes);
    {
        WaveDevice device(capture, MonoFormat(8000), &log);
        EXPECT_EQ(OpenDevicePosition(capture), 0u);
        for (size_t i = 0; i < kBuffers; ++i)
            ASSERT_EQ(device.Queue(buffers.headers[i]), MMSYSERR_NOERROR);
        ASSERT_TRUE(WaitUntil([&] { return log.Count(done) == kBuffers; }));
        // Counted before its callback, and each buffer on its own.
        for (size_t i = 0; i < kBuffers; ++i)
            EXPECT_EQ(log.Calls(done)[i].position, (i + 1) * kFrames) << "buffer " << i;
        EXPECT_EQ(OpenDevicePosition(capture), kBuffers * kFrames);

        // Counting starts again from a reset.
        ASSERT_EQ(device.Reset(), MMSYSERR_NOERROR);
        EXPECT_EQ(OpenDevicePosition(capture), 0u);
        ASSERT_EQ(device.Queue(buffers.headers[kBuffers]), MMSYSERR_NOERROR);
        ASSERT_TRUE(WaitUntil([&] { return log.Count(done) == kBuffers + 1; }));
        EXPECT_EQ(OpenDevicePosition(capture), kFrames);
        EXPECT_EQ(log.Calls(done)[kBuffers].position, kFrames);
    }
    EXPECT_FALSE(OpenDevicePosition(capture));
}

INSTANTIATE_TEST_SUITE_P(Backends, WavePosition,
                         ::testing::Combine(::testing::Values("loopback", "null", "file"), ::testing::Bool()),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param)) +
                                    (std::get<1>(info.param) ? "_capture" : "_playback");
                         });

TEST(WavePositionOfOpenDevice, FollowsTheNewestOpenDeviceOfItsDirection)
{
    UseDriver("null");
    const WAVEFORMATEX format = MonoFormat(8000);
    EXPECT_FALSE(OpenDevicePosition(false));
    {
        CallbackLog log;
        WaveDevice older(false, format, &log);
        Buffers buffers(1, kBufferBytes);
        ASSERT_EQ(older.Queue(buffers.headers[0]), MMSYSERR_NOERROR);
        ASSERT_TRUE(WaitUntil([&] { return log.Count(WOM_DONE) == 1; }));
        EXPECT_EQ(OpenDevicePosition(false), kFrames);
        {
            WaveDevice newer(false, format);
            EXPECT_EQ(OpenDevicePosition(false), 0u) << "the newer device";
            EXPECT_FALSE(OpenDevicePosition(true)) << "no capture device is open";
        }
        EXPECT_EQ(OpenDevicePosition(false), kFrames) << "the older device again";
    }
    EXPECT_FALSE(OpenDevicePosition(false));
}

}  // namespace
}  // namespace rz::test::sound
