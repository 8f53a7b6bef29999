// The wave driver as a Windows program relies on it: the choice of backend and
// what each does with the audio; arguments, handles, header flags, the callback
// thread, reset and close; and how far a device has got, on each clock-paced
// backend, as the host sees it.
#include <atomic>
#include <cstring>
#include <optional>
#include <tuple>

#include "SoundTestSupport.h"

namespace rz::test::sound {
namespace {

class WaveDriver : public ::testing::Test {
protected:
    void SetUp() override { UseDriver("null"); }
    WAVEFORMATEX m_format = MonoFormat(8000);
};

TEST_F(WaveDriver, BadArgumentsFormatsAndHandlesGetTheirCodes)
{
    HWAVEIN in = reinterpret_cast<HWAVEIN>(1);
    EXPECT_EQ(waveInOpen(nullptr, 0, &m_format, 0, 0, CALLBACK_NULL), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveInOpen(&in, 0, nullptr, 0, 0, CALLBACK_NULL), MMSYSERR_INVALPARAM);
    EXPECT_EQ(in, nullptr);
    EXPECT_EQ(waveInOpen(&in, 1, &m_format, 0, 0, CALLBACK_NULL), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(waveInOpen(&in, 0, &m_format, 0, 0, 0x00010000u), MMSYSERR_NOTSUPPORTED);  // window callback
    EXPECT_EQ(waveInOpen(&in, 0, &m_format, 0, 0, CALLBACK_FUNCTION | 0x8u), MMSYSERR_INVALFLAG);
    HWAVEOUT out = nullptr;
    EXPECT_EQ(waveOutOpen(&out, 5, &m_format, 0, 0, CALLBACK_NULL), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(out, nullptr);

    // Float, three channels, 24 bits, a frame or byte rate that does not match, rates out of range, no channels.
    const WAVEFORMATEX bad[] = {
        {3, 1, 8000, 16000, 2, 16, 0},
        {WAVE_FORMAT_PCM, 3, 8000, 48000, 6, 16, 0},
        {WAVE_FORMAT_PCM, 1, 8000, 24000, 3, 24, 0},
        {WAVE_FORMAT_PCM, 1, 8000, 16000, 4, 16, 0},
        {WAVE_FORMAT_PCM, 1, 8000, 8000, 2, 16, 0},
        {WAVE_FORMAT_PCM, 1, 999, 1998, 2, 16, 0},
        {WAVE_FORMAT_PCM, 1, 192001, 384002, 2, 16, 0},
        {WAVE_FORMAT_PCM, 0, 8000, 16000, 2, 16, 0},
    };
    for (const WAVEFORMATEX& format : bad) {
        EXPECT_EQ(waveInOpen(&in, 0, &format, 0, 0, CALLBACK_NULL), WAVERR_BADFORMAT) << &format - bad;
        EXPECT_EQ(waveOutOpen(&out, 0, &format, 0, 0, CALLBACK_NULL), WAVERR_BADFORMAT) << &format - bad;
    }
    EXPECT_EQ(WaveDevice(true, {WAVE_FORMAT_PCM, 2, 44100, 88200, 2, 8, 0}, nullptr, WAVE_MAPPER).Opened(),
              MMSYSERR_NOERROR);

    // Closed, unknown and mismatched handles are invalid.
    ASSERT_EQ(waveInOpen(&in, 0, &m_format, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutOpen(&out, 0, &m_format, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    // A capture handle is no playback handle and the other way round.
    EXPECT_EQ(waveOutPause(reinterpret_cast<HWAVEOUT>(in)), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveInStart(reinterpret_cast<HWAVEIN>(out)), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveInReset(reinterpret_cast<HWAVEIN>(0x7fff0000)), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveInClose(in), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutClose(out), MMSYSERR_NOERROR);

    Buffers buffers(1, 500);
    WAVEHDR* header = &buffers.headers[0];
    EXPECT_EQ(waveInClose(in), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveInStart(in), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveInPrepareHeader(in, header, sizeof *header), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveInAddBuffer(in, header, sizeof *header), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutWrite(out, header, sizeof *header), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutRestart(out), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutClose(out), MMSYSERR_INVALHANDLE);
}

// Headers follow the prepare, queue and return rules; a reset returns every
// queued buffer through the callback, in order.
TEST_F(WaveDriver, HeadersFollowThePrepareQueueReturnRules)
{
    CallbackLog log;
    WaveDevice device(false, m_format, &log);
    const auto out = static_cast<HWAVEOUT>(device.Handle());
    Buffers buffers(3, 666);
    WAVEHDR& header = buffers.headers[0];
    ASSERT_EQ(waveOutPause(out), MMSYSERR_NOERROR);

    EXPECT_EQ(waveOutPrepareHeader(out, nullptr, sizeof header), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveOutPrepareHeader(out, &header, sizeof header - 1), MMSYSERR_INVALPARAM);
    WAVEHDR empty = {};
    EXPECT_EQ(waveOutPrepareHeader(out, &empty, sizeof empty), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveOutWrite(out, &header, sizeof header), WAVERR_UNPREPARED);

    ASSERT_EQ(waveOutPrepareHeader(out, &header, sizeof header), MMSYSERR_NOERROR);
    EXPECT_EQ(header.dwFlags, WHDR_PREPARED);
    ASSERT_EQ(waveOutWrite(out, &header, sizeof header), MMSYSERR_NOERROR);
    EXPECT_EQ(header.dwFlags, WHDR_PREPARED | WHDR_INQUEUE);
    EXPECT_EQ(waveOutWrite(out, &header, sizeof header), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveOutUnprepareHeader(out, &header, sizeof header), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveOutClose(out), WAVERR_STILLPLAYING);
    ASSERT_EQ(device.Queue(buffers.headers[1]), MMSYSERR_NOERROR);
    ASSERT_EQ(device.Queue(buffers.headers[2]), MMSYSERR_NOERROR);

    ASSERT_EQ(waveOutReset(out), MMSYSERR_NOERROR);
    for (const WAVEHDR& returned : buffers.headers)
        EXPECT_EQ(returned.dwFlags, WHDR_PREPARED | WHDR_DONE);
    ASSERT_TRUE(WaitUntil([&] { return log.Count(WOM_DONE) == 3; }));
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(log.Calls(WOM_DONE)[i].header, &buffers.headers[i]);
    EXPECT_EQ(waveOutUnprepareHeader(out, &header, sizeof header), MMSYSERR_NOERROR);
    EXPECT_EQ(header.dwFlags, WHDR_DONE);
}

// Clock-paced: 16 buffers of 31.25 ms take half a second.
TEST_F(WaveDriver, CapturedBuffersComeBackInOrderOnTheDriverThreadInTheTimeOfTheirAudio)
{
    CallbackLog log;
    {
        WaveDevice in(true, m_format, &log);
        // 501 bytes hold 250 whole 16-bit frames.
        Buffers buffers(16, 501);
        const auto start = std::chrono::steady_clock::now();
        for (WAVEHDR& header : buffers.headers)
            ASSERT_EQ(in.Queue(header), MMSYSERR_NOERROR);
        ASSERT_TRUE(WaitUntil([&] { return log.Count(WIM_DATA) == 16; }));
        EXPECT_GE(std::chrono::steady_clock::now() - start, 450ms);
        for (size_t i = 0; i < 16; ++i) {
            EXPECT_EQ(log.Calls(WIM_DATA)[i].header, &buffers.headers[i]);
            EXPECT_EQ(buffers.headers[i].dwBytesRecorded, 500u);
            EXPECT_EQ(buffers.headers[i].dwFlags, WHDR_PREPARED | WHDR_DONE);
        }
    }
    const auto calls = log.Calls();
    ASSERT_EQ(calls.size(), 18u);
    EXPECT_EQ(calls.front().message, WIM_OPEN);
    EXPECT_EQ(calls.back().message, WIM_CLOSE);
    for (const auto& call : calls) {
        EXPECT_EQ(call.thread, calls.front().thread);
        EXPECT_NE(call.thread, std::this_thread::get_id());
    }
}

// A callback may queue buffers again, but not close its own device.
struct Requeuer {
    std::atomic<int> returned{0};
    std::atomic<MMRESULT> closeFromCallback{MMSYSERR_NOERROR};
    std::atomic<bool> keepGoing{true};

    static void Callback(void* device, UINT message, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR)
    {
        auto* self = reinterpret_cast<Requeuer*>(instance);
        if (message != WIM_DATA)
            return;
        auto* in = static_cast<HWAVEIN>(device);
        if (++self->returned == 1)
            self->closeFromCallback = waveInClose(in);
        auto* header = reinterpret_cast<WAVEHDR*>(param1);
        if (self->keepGoing)
            waveInAddBuffer(in, header, sizeof *header);
    }
};

TEST_F(WaveDriver, CallbacksMayRequeueButNotClose)
{
    Requeuer requeuer;
    HWAVEIN in = nullptr;
    ASSERT_EQ(waveInOpen(&in, 0, &m_format, reinterpret_cast<DWORD_PTR>(&Requeuer::Callback),
                         reinterpret_cast<DWORD_PTR>(&requeuer), CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    Buffers buffers(2, 80);
    for (WAVEHDR& header : buffers.headers) {
        waveInPrepareHeader(in, &header, sizeof header);
        waveInAddBuffer(in, &header, sizeof header);
    }
    waveInStart(in);
    EXPECT_TRUE(WaitUntil([&] { return requeuer.returned >= 10; }));
    EXPECT_EQ(requeuer.closeFromCallback, MMSYSERR_HANDLEBUSY);
    requeuer.keepGoing = false;
    // A callback already past its check may queue once more after a reset.
    MMRESULT closed = WAVERR_STILLPLAYING;
    for (int attempt = 0; attempt < 3 && closed == WAVERR_STILLPLAYING; ++attempt) {
        EXPECT_EQ(waveInReset(in), MMSYSERR_NOERROR);
        closed = waveInClose(in);
    }
    EXPECT_EQ(closed, MMSYSERR_NOERROR);
}

constexpr size_t kBuffers = 3;
constexpr DWORD kFrames = 160;  // 20 ms at 8 kHz
// A stray byte that no 16-bit frame fills: it is neither moved nor counted.
constexpr DWORD kBufferBytes = 2 * kFrames + 1;

// The newest open device's position in its direction; nothing, and the value left
// alone, while none is open.
std::optional<DWORD> OpenDevicePosition(bool capture)
{
    DWORD samples = 12345;
    const bool open = capture ? GetOpenWaveInPosition(&samples) : GetOpenWaveOutPosition(&samples);
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

std::string DriverName()
{
    char name[32] = {};
    GetWaveDriverName(name, sizeof name);
    return name;
}

std::string Failure()
{
    char text[256] = {};
    return GetWaveFailure(text, sizeof text) ? text : "";
}

TEST(WaveChoice, TheVariableNamesTheBackendTriedInListOrderAndChangedOnlyWhileNoDeviceIsOpen)
{
    UseDriver(" nosuchthing , LoopBack");
    EXPECT_EQ(DriverName(), "loopback");
    EXPECT_EQ(waveInGetNumDevs(), 1u);
    char name[64];
    ASSERT_EQ(GetWaveInDeviceName(0, name, sizeof name), MMSYSERR_NOERROR);
    EXPECT_STREQ(name, "loopback cable");
    EXPECT_EQ(GetWaveOutDeviceName(1, name, sizeof name), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(GetWaveInDeviceName(0, nullptr, 8), MMSYSERR_INVALPARAM);
    // Cut to the buffer, the full length still reported.
    EXPECT_EQ(GetWaveDriverName(name, 5), 8u);
    EXPECT_STREQ(name, "loop");

    UseDriver("nosuchthing");
    EXPECT_EQ(DriverName(), "");
    EXPECT_EQ(waveInGetNumDevs() + waveOutGetNumDevs(), 0u);
    HWAVEIN in = nullptr;
    const WAVEFORMATEX format = MonoFormat(8000);
    EXPECT_EQ(waveInOpen(&in, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL), MMSYSERR_NODRIVER);
    UseDriver("null");
    {
        WaveDevice open(true, format);
        UseDriver("loopback");
        EXPECT_EQ(DriverName(), "null");
    }
    EXPECT_EQ(DriverName(), "loopback");
}

TEST(NullBackend, CapturesSilenceInBothSampleWidths)
{
    UseDriver("null");
    EXPECT_EQ(Record(MonoFormat(8000), 2, 200), std::vector<uint8_t>(400, 0x00));
    EXPECT_EQ(Record({WAVE_FORMAT_PCM, 1, 8000, 8000, 1, 8, 0}, 2, 100), std::vector<uint8_t>(200, 0x80));
}

TEST(LoopbackBackend, EachEndOfTheCableOpensOnce)
{
    UseDriver("loopback");
    const WAVEFORMATEX format = MonoFormat(8000);
    HWAVEIN in[2] = {};
    HWAVEOUT out[2] = {};
    ASSERT_EQ(waveInOpen(&in[0], 0, &format, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    Failure();
    EXPECT_EQ(waveInOpen(&in[1], 0, &format, 0, 0, CALLBACK_NULL), MMSYSERR_ALLOCATED);
    EXPECT_NE(Failure().find("in use"), std::string::npos);
    EXPECT_EQ(Failure(), "");  // reported once
    ASSERT_EQ(waveOutOpen(&out[0], 0, &format, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutOpen(&out[1], 0, &format, 0, 0, CALLBACK_NULL), MMSYSERR_ALLOCATED);
    EXPECT_EQ(waveInClose(in[0]), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutClose(out[0]), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInOpen(&in[1], 0, &format, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInClose(in[1]), MMSYSERR_NOERROR);
}

class FileBackend : public ::testing::Test {
protected:
    FileAudio m_files;
};

// The file is fitted to the device's width and channels, and goes on as silence.
TEST_F(FileBackend, CaptureFitsAMonoFileToTheDeviceAndGoesOnAsSilenceAfterItsEnd)
{
    m_files.CaptureFrom(8000, {0x1234, -0x1234});
    const WAVEFORMATEX stereo8 = {WAVE_FORMAT_PCM, 2, 8000, 16000, 2, 8, 0};
    EXPECT_EQ(Record(stereo8, 2, 4), (std::vector<uint8_t>{0x92, 0x92, 0x6D, 0x6D, 0x80, 0x80, 0x80, 0x80}));
    m_files.CaptureFrom(8000, Ramp(1000));
    std::vector<uint8_t> expected(3000, 0);
    std::memcpy(expected.data(), Ramp(1000).data(), 2000);
    EXPECT_EQ(Record(MonoFormat(8000), 3, 1000), expected);
}

TEST_F(FileBackend, ACaptureFileMustExistAndHoldTheOpenedRate)
{
    HWAVEIN in = nullptr;
    const WAVEFORMATEX format = MonoFormat(8000);
    m_files.CaptureFrom(11025, Ramp(10));
    EXPECT_EQ(waveInOpen(&in, 0, &format, 0, 0, CALLBACK_NULL), WAVERR_BADFORMAT);
    EXPECT_NE(Failure().find("11025"), std::string::npos);
    SetVariable("RUZADA_AUDIO_IN", m_files.Path("missing.wav").c_str());
    EXPECT_EQ(waveInOpen(&in, 0, &format, 0, 0, CALLBACK_NULL), MMSYSERR_ERROR);
    EXPECT_NE(Failure().find("missing.wav"), std::string::npos);
    EXPECT_EQ(in, nullptr);
}

// Paced as a card plays, or as fast as the file takes it; either way the file is
// valid as soon as a buffer has played.
TEST_F(FileBackend, PlaybackTakesTheTimeOfItsAudioAndWritesAValidFileEvenBeforeItCloses)
{
    const WAVEFORMATEX format = MonoFormat(8000);
    const std::vector<int16_t> ramp = Ramp(4000);  // half a second
    for (const char* pace : {"0", static_cast<const char*>(nullptr)}) {
        SCOPED_TRACE(pace ? "unpaced" : "paced");
        SetVariable("RUZADA_AUDIO_PACE", pace);
        {
            CallbackLog log;
            WaveDevice out(false, format, &log);
            HWAVEOUT second = nullptr;
            EXPECT_EQ(waveOutOpen(&second, 0, &format, 0, 0, CALLBACK_NULL), MMSYSERR_ALLOCATED);
            Buffers buffers(1, 8000);
            std::memcpy(buffers.data[0].data(), ramp.data(), 8000);
            const auto start = std::chrono::steady_clock::now();
            ASSERT_EQ(out.Queue(buffers.headers[0]), MMSYSERR_NOERROR);
            ASSERT_TRUE(WaitUntil([&] { return log.Count(WOM_DONE) == 1; }));
            EXPECT_TRUE(pace || std::chrono::steady_clock::now() - start >= 450ms);
            EXPECT_EQ(ReadWav(m_files.Path("out.wav")), ramp);
        }
        EXPECT_EQ(ReadWav(m_files.Path("out.wav")), ramp);
    }
}

}  // namespace
}  // namespace rz::test::sound
