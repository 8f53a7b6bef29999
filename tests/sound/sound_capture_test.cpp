// CSound's capture side on real driver runs: buffer arithmetic, order, and the
// answers while closed.
#include <array>

#include "SoundTestSupport.h"
#include "audio/Sound.h"

namespace rz::test::sound {
namespace {

// Capture from a ramp file, unpaced: the driver fills every queued buffer at once.
class SoundCapture : public ::testing::Test {
protected:
    void TearDown() override { m_sound.CloseIn(); }
    void OpenRamp(uint32_t rate, size_t samples)
    {
        m_files.CaptureFrom(rate, Ramp(samples));
        const WAVEFORMATEX format = MonoFormat(rate);
        ASSERT_EQ(m_sound.OpenIn(&format, WAVE_MAPPER), 0u);
    }
    // Reads until a call returns something, as the receive thread polls.
    int ReadSome(short* dst, int count)
    {
        int got = 0;
        WaitUntil([&] { return (got = m_sound.ReadIn(dst, count)) != 0; });
        return got;
    }
    FileAudio m_files;
    CSound m_sound;
};

// A read stops at the first total past two buffers short of full: 250-sample
// buffers at 8000 (13 make 3250, at or above 4096 - 2 * 500), 1500 at 48000
// (three make 4500, past 10000 - 2 * 3000). Fewer only while fewer came back.
TEST_F(SoundCapture, AReadStopsAtTheFirstTotalPastTwoBuffersShortOfFull)
{
    for (const auto [rate, request, buffer, expected] :
         {std::array{8000, 4096, 250, 3250}, {48000, 10000, 1500, 4500}}) {
        m_sound.CloseIn();
        OpenRamp(rate, 100000);
        std::vector<short> dst(request);
        int got = 0;
        ASSERT_TRUE(WaitUntil([&] {
            const int read = m_sound.ReadIn(dst.data(), request);
            EXPECT_EQ(read % buffer, 0) << rate;
            EXPECT_LE(read, expected) << rate;
            got += read;
            return read == expected;
        }));
        EXPECT_EQ(std::vector<int16_t>(dst.begin(), dst.begin() + expected), Ramp(expected, got - expected + 1));
    }
}

TEST_F(SoundCapture, ReadsInPiecesYieldEachSampleOnceInOrderAndBuffersGoBackToTheDriver)
{
    // Four times the ring: only buffers given back can carry it all.
    OpenRamp(8000, 64000);
    std::vector<short> dst(4096);
    EXPECT_EQ(m_sound.ReadIn(dst.data(), 0), 0);
    ASSERT_EQ(ReadSome(dst.data(), 100), 100);
    ASSERT_EQ(m_sound.ReadIn(dst.data() + 100, 100), 100);
    std::vector<int16_t> all(dst.begin(), dst.begin() + 200);
    ASSERT_TRUE(WaitUntil([&] {
        const int read = m_sound.ReadIn(dst.data(), 4096);
        all.insert(all.end(), dst.begin(), dst.begin() + std::max(read, 0));
        return all.size() >= 64000;
    }));
    all.resize(64000);
    EXPECT_EQ(all, Ramp(64000));
    EXPECT_EQ(m_sound.GetError(), 0u);
}

TEST_F(SoundCapture, ClosedTwiceOpenedAndMissingCaptureAnswerWithTheirCodes)
{
    short dst[100];
    const auto closedRead = [&] {
        const int read = m_sound.ReadIn(dst, 10);
        return std::pair(read, m_sound.GetError());
    };
    EXPECT_EQ(closedRead(), std::pair(-1, UINT{kSoundInClosed}));
    DebugLines debug;
    const WAVEFORMATEX format = MonoFormat(8000);
    EXPECT_EQ(m_sound.OpenIn(&format, 7), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(m_sound.GetError(), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(m_sound.GetWaveInHandle(), nullptr);
    EXPECT_EQ(debug.Lines(), std::vector<std::string>{"Failure in waveInOpen.  Device = 7, ErrorCode = 2\r\n"});
    EXPECT_EQ(m_sound.OpenIn(nullptr, 0), MMSYSERR_INVALPARAM);

    OpenRamp(8000, 8000);
    const HWAVEIN handle = m_sound.GetWaveInHandle();
    EXPECT_EQ(m_sound.OpenIn(&format, WAVE_MAPPER), MMSYSERR_ALLOCATED);
    EXPECT_EQ(m_sound.GetWaveInHandle(), handle);
    ASSERT_EQ(ReadSome(dst, 100), 100);
    EXPECT_EQ(std::vector<int16_t>(dst, dst + 100), Ramp(100));
    m_sound.CloseIn();
    m_sound.CloseIn();
    EXPECT_EQ(std::pair(m_sound.IsInOpen(), m_sound.GetWaveInHandle()), std::pair(0, HWAVEIN{}));
    EXPECT_EQ(closedRead(), std::pair(-1, UINT{kSoundInClosed}));
}

// Buffer counts are cut to the header arrays. A copy reports the original's
// devices and leaves them alone.
TEST(SoundConstruction, OddCountsAndCopiesLeaveTheDevicesWhole)
{
    UseDriver("null");
    const WAVEFORMATEX format = MonoFormat(8000);
    for (int count : {-5, 0, 1, 64, 1000}) {
        CSound sound(count, count);
        EXPECT_EQ(std::pair(sound.OpenIn(&format, WAVE_MAPPER), sound.OpenOut(&format, WAVE_MAPPER)), std::pair(0u, 0u))
            << count;
    }
    CSound original;
    ASSERT_EQ(original.OpenIn(&format, WAVE_MAPPER), 0u);
    {
        CSound copy(original);
        EXPECT_EQ(std::pair(copy.IsInOpen(), copy.IsOutOpen()), std::pair(1, 0));
        short dst[4];
        EXPECT_EQ(copy.ReadIn(dst, 4), -1);
        EXPECT_EQ(copy.OpenOut(&format, WAVE_MAPPER), MMSYSERR_NOTSUPPORTED);
        copy.CloseIn();
        CSound assigned;
        assigned = copy;
        EXPECT_EQ(assigned.GetWaveInHandle(), original.GetWaveInHandle());
    }
    EXPECT_EQ(original.IsInOpen(), 1);
    EXPECT_EQ(waveInStart(original.GetWaveInHandle()), MMSYSERR_NOERROR);
}

}  // namespace
}  // namespace rz::test::sound
