// The sound card as a host drives it: through the module's exports, with the
// module loaded from its folder, and released when the module unloads.
#include <ruzada/wave.h>

#include "module_fixture.h"

namespace rz::test::host {
namespace {

struct Boxes {
    std::vector<std::string> texts;
    static int Collect(HWND, const char* text, const char*, UINT, void* self)
    {
        static_cast<Boxes*>(self)->texts.emplace_back(text);
        return IDOK;
    }
};

std::string SystemText(DWORD code)
{
    char* text = nullptr;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   code, 0x400, reinterpret_cast<char*>(&text), 0, nullptr);
    const std::string copy = text ? text : "";
    LocalFree(text);
    return copy;
}

class SoundExports : public ModuleTest {
protected:
    void SetUp() override { Load({}, "", "loopback"); }
    // True when both loopback ends open, that is when the module holds neither.
    static bool CardFree()
    {
        const WAVEFORMATEX format = {WAVE_FORMAT_PCM, 1, 8000, 16000, 2, 16, 0};
        HWAVEIN in = nullptr;
        HWAVEOUT out = nullptr;
        const bool inFree = waveInOpen(&in, 0, &format, 0, 0, CALLBACK_NULL) == MMSYSERR_NOERROR;
        const bool outFree = waveOutOpen(&out, 0, &format, 0, 0, CALLBACK_NULL) == MMSYSERR_NOERROR;
        waveInClose(in);
        waveOutClose(out);
        return inFree && outFree;
    }
};

TEST_F(SoundExports, TheHostRunsAndStopsTheCard)
{
    EXPECT_EQ(api.GetDGSoundCount(), 1u);
    EXPECT_EQ(api.GetDGFreq(), 0.0);
    ASSERT_EQ(api.SetDGFreq(8000.0), 1);
    EXPECT_EQ(api.GetDGFreq(), 8000.0);
    EXPECT_FALSE(CardFree());
    ASSERT_EQ(api.SetDGFreq(0.0), 1);
    EXPECT_EQ(api.GetDGFreq(), 0.0);
    EXPECT_TRUE(CardFree());
}

TEST_F(SoundExports, SwitchingModesTellsTheHostWindow)
{
    api.InitDG(host.Handle());
    ASSERT_EQ(api.SetDGFreq(8000.0), 1);
    api.SetDGSoundMode(1, -1);
    api.SetDGSoundMode(2, 42);
    ASSERT_TRUE(host.PumpUntil([&] { return host.Messages(host.msgXmitRecv).size() == 2; }, 5s));
    const auto posted = host.Messages(host.msgXmitRecv);
    EXPECT_EQ(posted[0].wParam, 1u);
    EXPECT_EQ(posted[0].lParam, 0);
    EXPECT_EQ(posted[1].wParam, 0u);
    EXPECT_EQ(posted[1].lParam, 1);
    EXPECT_EQ(api.GetDGFreq(), 8000.0);
}

TEST_F(SoundExports, ADeviceInUseIsShownInAMessageBox)
{
    Boxes boxes;
    SetMessageBoxHandler(&Boxes::Collect, &boxes);
    const WAVEFORMATEX format = {WAVE_FORMAT_PCM, 1, 8000, 16000, 2, 16, 0};
    HWAVEIN taken = nullptr;
    ASSERT_EQ(waveInOpen(&taken, 0, &format, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    EXPECT_EQ(api.SetDGFreq(8000.0), 0);
    waveInClose(taken);
    SetMessageBoxHandler(nullptr, nullptr);
    EXPECT_EQ(boxes.texts, std::vector<std::string>{"Soundcard In Open:\n" + SystemText(MMSYSERR_ALLOCATED)});
}

TEST_F(SoundExports, UnloadingReleasesARunningCard)
{
    ASSERT_EQ(api.SetDGFreq(8000.0), 1);
    ASSERT_FALSE(CardFree());
    module->Unload();
    EXPECT_TRUE(CardFree());
}

}  // namespace
}  // namespace rz::test::host
