// How far a wave device has got: waveInGetPosition and waveOutGetPosition on each
// clock-paced backend, and the host's view of the newest open device.
#include <array>
#include <atomic>
#include <tuple>

#include "SoundTestSupport.h"

namespace rz::test::sound {
namespace {

constexpr size_t kBuffers = 3;
constexpr DWORD kFrames = 160;  // 20 ms at 8 kHz
// A stray byte that no 16-bit frame fills: it is neither moved nor counted.
constexpr DWORD kBufferBytes = 2 * kFrames + 1;

// One direction's calls, over untyped handles, so that a test runs both ways.
struct Calls {
    const char* name;
    UINT doneMessage;
    MMRESULT (*open)(void** device, const WAVEFORMATEX* format, DWORD_PTR callback, DWORD_PTR instance);
    // Prepares and queues; capture starts too.
    MMRESULT (*queue)(void* device, WAVEHDR* header);
    MMRESULT (*position)(void* device, MMTIME* time, UINT size);
    MMRESULT (*reset)(void* device);
    MMRESULT (*close)(void* device);
    BOOL (*openPosition)(DWORD* samples);
};

template <class Handle>
MMRESULT OpenAs(MMRESULT (*open)(Handle*, UINT, const WAVEFORMATEX*, DWORD_PTR, DWORD_PTR, DWORD), void** device,
                const WAVEFORMATEX* format, DWORD_PTR callback, DWORD_PTR instance)
{
    Handle handle = nullptr;
    const MMRESULT result = open(&handle, 0, format, callback, instance, callback ? CALLBACK_FUNCTION : CALLBACK_NULL);
    *device = handle;
    return result;
}

const Calls kCapture = {
    "capture",
    WIM_DATA,
    [](void** device, const WAVEFORMATEX* format, DWORD_PTR callback, DWORD_PTR instance) {
        return OpenAs(&waveInOpen, device, format, callback, instance);
    },
    [](void* device, WAVEHDR* header) {
        const auto in = static_cast<HWAVEIN>(device);
        waveInPrepareHeader(in, header, sizeof *header);
        const MMRESULT queued = waveInAddBuffer(in, header, sizeof *header);
        return queued ? queued : waveInStart(in);
    },
    [](void* device, MMTIME* time, UINT size) { return waveInGetPosition(static_cast<HWAVEIN>(device), time, size); },
    [](void* device) { return waveInReset(static_cast<HWAVEIN>(device)); },
    [](void* device) { return waveInClose(static_cast<HWAVEIN>(device)); },
    &GetOpenWaveInPosition,
};

const Calls kPlayback = {
    "playback",
    WOM_DONE,
    [](void** device, const WAVEFORMATEX* format, DWORD_PTR callback, DWORD_PTR instance) {
        return OpenAs(&waveOutOpen, device, format, callback, instance);
    },
    [](void* device, WAVEHDR* header) {
        const auto out = static_cast<HWAVEOUT>(device);
        waveOutPrepareHeader(out, header, sizeof *header);
        return waveOutWrite(out, header, sizeof *header);
    },
    [](void* device, MMTIME* time, UINT size) { return waveOutGetPosition(static_cast<HWAVEOUT>(device), time, size); },
    [](void* device) { return waveOutReset(static_cast<HWAVEOUT>(device)); },
    [](void* device) { return waveOutClose(static_cast<HWAVEOUT>(device)); },
    &GetOpenWaveOutPosition,
};

// Each returned buffer, and the position its own callback saw.
struct Completions {
    const Calls* calls;
    std::atomic<size_t> count{0};
    std::array<std::atomic<DWORD>, kBuffers + 1> seen{};

    static void Record(void* device, UINT message, DWORD_PTR instance, DWORD_PTR, DWORD_PTR)
    {
        auto& self = *reinterpret_cast<Completions*>(instance);
        if (message != self.calls->doneMessage)
            return;
        MMTIME time = {};
        time.wType = TIME_SAMPLES;
        self.calls->position(device, &time, sizeof time);
        if (const size_t index = self.count; index < self.seen.size())
            self.seen[index] = time.u.sample;
        ++self.count;
    }
};

// Headers over slices of one block.
struct Buffers {
    explicit Buffers(size_t count) : data(count * kBufferBytes), headers(count)
    {
        for (size_t i = 0; i < count; ++i) {
            headers[i].lpData = data.data() + i * kBufferBytes;
            headers[i].dwBufferLength = kBufferBytes;
        }
    }
    std::vector<char> data;
    std::vector<WAVEHDR> headers;
};

// The answer to a position asked in `format`: the format answered, and the value.
std::pair<UINT, DWORD> Position(const Calls& calls, void* device, UINT format)
{
    MMTIME time = {};
    time.wType = format;
    EXPECT_EQ(calls.position(device, &time, sizeof time), MMSYSERR_NOERROR);
    return {time.wType, time.u.sample};
}

void* Open(const Calls& calls, const WAVEFORMATEX& format, Completions* done = nullptr)
{
    void* device = nullptr;
    EXPECT_EQ(calls.open(&device, &format, done ? reinterpret_cast<DWORD_PTR>(&Completions::Record) : 0,
                         reinterpret_cast<DWORD_PTR>(done)),
              MMSYSERR_NOERROR);
    return device;
}

class WavePosition : public ::testing::TestWithParam<std::tuple<const char*, const Calls*>> {
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
    const Calls& TheCalls() const { return *std::get<1>(GetParam()); }

    TempDir m_dir;
    const WAVEFORMATEX m_format = MonoFormat(8000);
};

TEST_P(WavePosition, CountsTheFramesOfReturnedBuffersUntilReset)
{
    const Calls& calls = TheCalls();
    Completions done{&calls};
    void* device = Open(calls, m_format, &done);
    DWORD samples = 99;
    ASSERT_TRUE(calls.openPosition(&samples));
    EXPECT_EQ(samples, 0u);
    EXPECT_EQ(Position(calls, device, TIME_SAMPLES), std::make_pair(TIME_SAMPLES, DWORD{0}));

    Buffers buffers(kBuffers + 1);
    for (size_t i = 0; i < kBuffers; ++i)
        ASSERT_EQ(calls.queue(device, &buffers.headers[i]), MMSYSERR_NOERROR);
    ASSERT_TRUE(WaitUntil([&] { return done.count == kBuffers; }));
    // Counted before its callback, and each buffer on its own.
    for (size_t i = 0; i < kBuffers; ++i)
        EXPECT_EQ(done.seen[i].load(), (i + 1) * kFrames) << "buffer " << i;

    const DWORD frames = kBuffers * kFrames;
    EXPECT_EQ(Position(calls, device, TIME_SAMPLES), std::make_pair(TIME_SAMPLES, frames));
    // Bytes, and bytes for every format the driver does not keep.
    for (const UINT format : {TIME_BYTES, TIME_MS, TIME_SMPTE, TIME_MIDI, TIME_TICKS, 0u})
        EXPECT_EQ(Position(calls, device, format), std::make_pair(TIME_BYTES, 2 * frames)) << "format " << format;
    ASSERT_TRUE(calls.openPosition(&samples));
    EXPECT_EQ(samples, frames);

    ASSERT_EQ(calls.reset(device), MMSYSERR_NOERROR);
    EXPECT_EQ(Position(calls, device, TIME_SAMPLES).second, 0u);
    // Counting starts again from the reset.
    ASSERT_EQ(calls.queue(device, &buffers.headers[kBuffers]), MMSYSERR_NOERROR);
    ASSERT_TRUE(WaitUntil([&] { return done.count == kBuffers + 1; }));
    EXPECT_EQ(Position(calls, device, TIME_SAMPLES).second, kFrames);
    EXPECT_EQ(done.seen[kBuffers].load(), kFrames);

    ASSERT_EQ(calls.reset(device), MMSYSERR_NOERROR);
    ASSERT_EQ(calls.close(device), MMSYSERR_NOERROR);
    EXPECT_FALSE(calls.openPosition(&samples));
}

INSTANTIATE_TEST_SUITE_P(Backends, WavePosition,
                         ::testing::Combine(::testing::Values("loopback", "null", "file"),
                                            ::testing::Values(&kCapture, &kPlayback)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param)) + "_" + std::get<1>(info.param)->name;
                         });

TEST(WavePositionArguments, BadArgumentsGetTheirCodes)
{
    UseDriver("null");
    const WAVEFORMATEX format = MonoFormat(8000);
    void* in = Open(kCapture, format);
    void* out = Open(kPlayback, format);
    void* closedIn = Open(kCapture, format);
    void* closedOut = Open(kPlayback, format);
    ASSERT_EQ(kCapture.close(closedIn), MMSYSERR_NOERROR);
    ASSERT_EQ(kPlayback.close(closedOut), MMSYSERR_NOERROR);

    MMTIME time = {};
    struct Case {
        const char* what;
        void* device;
        MMTIME* time;
        UINT size;
        MMRESULT expected;
    };
    const std::tuple<const Calls*, void*, void*, void*> directions[] = {{&kCapture, in, closedIn, out},
                                                                        {&kPlayback, out, closedOut, in}};
    for (const auto& [calls, open, closed, other] : directions) {
        const Case cases[] = {
            {"no time", open, nullptr, sizeof time, MMSYSERR_INVALPARAM},
            {"short time", open, &time, sizeof time - 1, MMSYSERR_INVALPARAM},
            {"empty time", open, &time, 0, MMSYSERR_INVALPARAM},
            {"closed handle", closed, &time, sizeof time, MMSYSERR_INVALHANDLE},
            {"unknown handle", reinterpret_cast<void*>(0x7fff0000), &time, sizeof time, MMSYSERR_INVALHANDLE},
            {"no handle", nullptr, &time, sizeof time, MMSYSERR_INVALHANDLE},
            {"the other direction's handle", other, &time, sizeof time, MMSYSERR_INVALHANDLE},
            {"larger time", open, &time, sizeof time + 4, MMSYSERR_NOERROR},
        };
        for (const Case& c : cases)
            EXPECT_EQ(calls->position(c.device, c.time, c.size), c.expected) << calls->name << ", " << c.what;
        EXPECT_FALSE(calls->openPosition(nullptr)) << calls->name;
    }
    EXPECT_EQ(kCapture.close(in), MMSYSERR_NOERROR);
    EXPECT_EQ(kPlayback.close(out), MMSYSERR_NOERROR);
}

TEST(WavePositionOfOpenDevice, FollowsTheNewestOpenDeviceOfItsDirection)
{
    UseDriver("null");
    const WAVEFORMATEX format = MonoFormat(8000);
    DWORD samples = 12345;
    EXPECT_FALSE(GetOpenWaveOutPosition(&samples));
    EXPECT_EQ(samples, 12345u) << "untouched when nothing is open";

    Completions done{&kPlayback};
    void* older = Open(kPlayback, format, &done);
    Buffers buffers(1);
    ASSERT_EQ(kPlayback.queue(older, &buffers.headers[0]), MMSYSERR_NOERROR);
    ASSERT_TRUE(WaitUntil([&] { return done.count == 1; }));
    ASSERT_TRUE(GetOpenWaveOutPosition(&samples));
    EXPECT_EQ(samples, kFrames);

    void* newer = Open(kPlayback, format);
    ASSERT_TRUE(GetOpenWaveOutPosition(&samples));
    EXPECT_EQ(samples, 0u) << "the newer device";
    samples = 12345;
    EXPECT_FALSE(GetOpenWaveInPosition(&samples)) << "no capture device is open";
    EXPECT_EQ(samples, 12345u);

    ASSERT_EQ(kPlayback.close(newer), MMSYSERR_NOERROR);
    ASSERT_TRUE(GetOpenWaveOutPosition(&samples));
    EXPECT_EQ(samples, kFrames) << "the older device again";
    ASSERT_EQ(kPlayback.close(older), MMSYSERR_NOERROR);
    EXPECT_FALSE(GetOpenWaveOutPosition(&samples));
}

}  // namespace
}  // namespace rz::test::sound
