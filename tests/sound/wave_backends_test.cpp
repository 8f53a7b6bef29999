// The choice of backend and what each backend does with the audio.
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
