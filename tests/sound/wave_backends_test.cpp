// The choice of backend and what each backend does with the audio.
#include <atomic>
#include <cstring>

#include "SoundTestSupport.h"

namespace rz::test::sound {
namespace {

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

// Opens capture, records `count` buffers of `bytes` each, closes, and returns
// what was recorded, in order.
std::vector<uint8_t> Record(const WAVEFORMATEX& format, size_t count, DWORD bytes)
{
    struct Done {
        std::atomic<size_t> count{0};
        static void Callback(void*, UINT message, DWORD_PTR instance, DWORD_PTR, DWORD_PTR)
        {
            if (message == WIM_DATA)
                ++reinterpret_cast<Done*>(instance)->count;
        }
    } done;
    HWAVEIN in = nullptr;
    EXPECT_EQ(waveInOpen(&in, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(&Done::Callback),
                         reinterpret_cast<DWORD_PTR>(&done), CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    std::vector<std::vector<uint8_t>> data(count, std::vector<uint8_t>(bytes, 0xEE));
    std::vector<WAVEHDR> headers(count);
    for (size_t i = 0; i < count; ++i) {
        headers[i].lpData = reinterpret_cast<char*>(data[i].data());
        headers[i].dwBufferLength = bytes;
        waveInPrepareHeader(in, &headers[i], sizeof(WAVEHDR));
        waveInAddBuffer(in, &headers[i], sizeof(WAVEHDR));
    }
    waveInStart(in);
    EXPECT_TRUE(WaitUntil([&] { return done.count == count; }));
    waveInReset(in);
    EXPECT_EQ(waveInClose(in), MMSYSERR_NOERROR);
    std::vector<uint8_t> recorded;
    for (size_t i = 0; i < count; ++i)
        recorded.insert(recorded.end(), data[i].begin(), data[i].begin() + headers[i].dwBytesRecorded);
    return recorded;
}

// Plays `bytes` in one buffer and waits until it is back.
void Play(const WAVEFORMATEX& format, std::vector<uint8_t> bytes)
{
    HWAVEOUT out = nullptr;
    ASSERT_EQ(waveOutOpen(&out, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    WAVEHDR header = {};
    header.lpData = reinterpret_cast<char*>(bytes.data());
    header.dwBufferLength = static_cast<DWORD>(bytes.size());
    waveOutPrepareHeader(out, &header, sizeof header);
    ASSERT_EQ(waveOutWrite(out, &header, sizeof header), MMSYSERR_NOERROR);
    EXPECT_TRUE(WaitUntil([&] { return waveOutUnprepareHeader(out, &header, sizeof header) == 0; }));
    EXPECT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
}

std::vector<uint8_t> Bytes(const std::vector<int16_t>& samples)
{
    std::vector<uint8_t> bytes(samples.size() * 2);
    std::memcpy(bytes.data(), samples.data(), bytes.size());
    return bytes;
}

TEST(WaveChoice, TheVariableNamesTheBackendAndAListIsTriedInOrder)
{
    UseDriver("null");
    EXPECT_EQ(DriverName(), "null");
    UseDriver(" nosuchthing , LoopBack");
    EXPECT_EQ(DriverName(), "loopback");
    EXPECT_EQ(waveInGetNumDevs(), 1u);
    char name[64];
    ASSERT_EQ(GetWaveInDeviceName(0, name, sizeof name), MMSYSERR_NOERROR);
    EXPECT_STREQ(name, "loopback cable");
    EXPECT_EQ(GetWaveOutDeviceName(1, name, sizeof name), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(GetWaveInDeviceName(0, nullptr, 8), MMSYSERR_INVALPARAM);
    // Cut to the buffer, the full length still reported.
    char shortName[5];
    EXPECT_EQ(GetWaveDriverName(shortName, sizeof shortName), 8u);
    EXPECT_STREQ(shortName, "loop");
}

TEST(WaveChoice, AnUnknownNameLeavesNoDevice)
{
    UseDriver("nosuchthing");
    EXPECT_EQ(DriverName(), "");
    EXPECT_EQ(waveInGetNumDevs(), 0u);
    EXPECT_EQ(waveOutGetNumDevs(), 0u);
    HWAVEIN in = nullptr;
    const WAVEFORMATEX format = MonoFormat(8000);
    EXPECT_EQ(waveInOpen(&in, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL), MMSYSERR_NODRIVER);
}

TEST(WaveChoice, TheBackendChangesOnlyWhileNoDeviceIsOpen)
{
    UseDriver("null");
    const WAVEFORMATEX format = MonoFormat(8000);
    HWAVEIN in = nullptr;
    ASSERT_EQ(waveInOpen(&in, 0, &format, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    UseDriver("loopback");
    EXPECT_EQ(DriverName(), "null");
    ASSERT_EQ(waveInClose(in), MMSYSERR_NOERROR);
    EXPECT_EQ(DriverName(), "loopback");
}

TEST(WaveChoice, WithoutTheVariableARealCardOrElseTheLoopback)
{
    UseDriver(nullptr);
    const std::string chosen = DriverName();
    if (chosen == "portaudio") {
        EXPECT_GT(waveInGetNumDevs(), 0u);
        EXPECT_GT(waveOutGetNumDevs(), 0u);
    } else {
        EXPECT_EQ(chosen, "loopback");
    }
}

TEST(NullBackend, CapturesSilenceInBothSampleWidths)
{
    UseDriver("null");
    const std::vector<uint8_t> silence16 = Record(MonoFormat(8000), 2, 200);
    EXPECT_EQ(silence16, std::vector<uint8_t>(400, 0x00));
    const WAVEFORMATEX mono8 = {WAVE_FORMAT_PCM, 1, 8000, 8000, 1, 8, 0};
    EXPECT_EQ(Record(mono8, 2, 100), std::vector<uint8_t>(200, 0x80));
}

TEST(LoopbackBackend, EachEndOfTheCableOpensOnce)
{
    UseDriver("loopback");
    const WAVEFORMATEX format = MonoFormat(8000);
    HWAVEIN first = nullptr;
    HWAVEIN second = nullptr;
    ASSERT_EQ(waveInOpen(&first, 0, &format, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    Failure();
    EXPECT_EQ(waveInOpen(&second, 0, &format, 0, 0, CALLBACK_NULL), MMSYSERR_ALLOCATED);
    EXPECT_NE(Failure().find("in use"), std::string::npos);
    EXPECT_EQ(Failure(), "");  // reported once
    HWAVEOUT out = nullptr;
    HWAVEOUT out2 = nullptr;
    ASSERT_EQ(waveOutOpen(&out, 0, &format, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutOpen(&out2, 0, &format, 0, 0, CALLBACK_NULL), MMSYSERR_ALLOCATED);
    EXPECT_EQ(waveInClose(first), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInOpen(&second, 0, &format, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInClose(second), MMSYSERR_NOERROR);
}

class FileBackend : public ::testing::Test {
protected:
    void SetUp() override
    {
        UseDriver("file");
        SetVariable("RUZADA_AUDIO_PACE", "0");
    }
    void TearDown() override
    {
        SetVariable("RUZADA_AUDIO_IN", nullptr);
        SetVariable("RUZADA_AUDIO_OUT", nullptr);
        SetVariable("RUZADA_AUDIO_PACE", nullptr);
    }
    TempDir m_dir;
};

TEST_F(FileBackend, ACaptureFileThatEndsGoesOnAsSilence)
{
    const std::vector<int16_t> ramp = Ramp(1000);
    WriteWav(m_dir.Path("in.wav"), 8000, ramp);
    SetVariable("RUZADA_AUDIO_IN", m_dir.Path("in.wav").c_str());
    std::vector<uint8_t> expected = Bytes(ramp);
    expected.resize(3000, 0);
    EXPECT_EQ(Record(MonoFormat(8000), 3, 1000), expected);
}

TEST_F(FileBackend, CaptureFitsAMonoFileToTheDevicesWidthAndChannels)
{
    WriteWav(m_dir.Path("in.wav"), 8000, {0x1234, -0x1234, 0});
    SetVariable("RUZADA_AUDIO_IN", m_dir.Path("in.wav").c_str());
    const WAVEFORMATEX stereo8 = {WAVE_FORMAT_PCM, 2, 8000, 16000, 2, 8, 0};
    EXPECT_EQ(Record(stereo8, 1, 8), (std::vector<uint8_t>{0x92, 0x92, 0x6D, 0x6D, 0x80, 0x80, 0x80, 0x80}));
}

TEST_F(FileBackend, ACaptureFileMustHoldTheOpenedRate)
{
    WriteWav(m_dir.Path("in.wav"), 11025, Ramp(10));
    SetVariable("RUZADA_AUDIO_IN", m_dir.Path("in.wav").c_str());
    HWAVEIN in = nullptr;
    const WAVEFORMATEX format = MonoFormat(8000);
    EXPECT_EQ(waveInOpen(&in, 0, &format, 0, 0, CALLBACK_NULL), WAVERR_BADFORMAT);
    EXPECT_NE(Failure().find("11025"), std::string::npos);

    SetVariable("RUZADA_AUDIO_IN", m_dir.Path("missing.wav").c_str());
    EXPECT_EQ(waveInOpen(&in, 0, &format, 0, 0, CALLBACK_NULL), MMSYSERR_ERROR);
    EXPECT_NE(Failure().find("missing.wav"), std::string::npos);
    EXPECT_EQ(in, nullptr);
}

TEST_F(FileBackend, PlaybackWritesAValidFileEvenBeforeItCloses)
{
    SetVariable("RUZADA_AUDIO_OUT", m_dir.Path("out.wav").c_str());
    const WAVEFORMATEX format = MonoFormat(8000);
    HWAVEOUT out = nullptr;
    ASSERT_EQ(waveOutOpen(&out, 0, &format, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    HWAVEOUT second = nullptr;
    EXPECT_EQ(waveOutOpen(&second, 0, &format, 0, 0, CALLBACK_NULL), MMSYSERR_ALLOCATED);
    std::vector<uint8_t> bytes = Bytes(Ramp(700));
    WAVEHDR header = {};
    header.lpData = reinterpret_cast<char*>(bytes.data());
    header.dwBufferLength = static_cast<DWORD>(bytes.size());
    waveOutPrepareHeader(out, &header, sizeof header);
    ASSERT_EQ(waveOutWrite(out, &header, sizeof header), MMSYSERR_NOERROR);
    // Unprepared once played: the driver answers under its own lock.
    ASSERT_TRUE(WaitUntil([&] { return waveOutUnprepareHeader(out, &header, sizeof header) == 0; }));
    const auto whileOpen = ReadWav(m_dir.Path("out.wav"));
    ASSERT_TRUE(whileOpen);
    EXPECT_EQ(whileOpen->Samples(), Ramp(700));
    ASSERT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
    const auto closed = ReadWav(m_dir.Path("out.wav"));
    ASSERT_TRUE(closed);
    EXPECT_EQ(closed->rate, 8000);
    EXPECT_EQ(closed->channels, 1);
    EXPECT_EQ(closed->bits, 16);
    EXPECT_EQ(closed->Samples(), Ramp(700));
}

TEST_F(FileBackend, PacedPlaybackTakesTheTimeOfItsAudio)
{
    SetVariable("RUZADA_AUDIO_PACE", nullptr);
    SetVariable("RUZADA_AUDIO_OUT", m_dir.Path("out.wav").c_str());
    const auto start = std::chrono::steady_clock::now();
    Play(MonoFormat(8000), Bytes(Ramp(4000)));  // half a second
    EXPECT_GE(std::chrono::steady_clock::now() - start, 450ms);
    const auto written = ReadWav(m_dir.Path("out.wav"));
    ASSERT_TRUE(written);
    EXPECT_EQ(written->Samples(), Ramp(4000));
}

}  // namespace
}  // namespace rz::test::sound
