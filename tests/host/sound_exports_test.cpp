// The sound card as a host drives it: through the module's exports, with the
// module loaded from its folder, and released when the module unloads.
#include <ruzada/wave.h>

#include "module_fixture.h"

namespace rz::test::host {
namespace {

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

// The card's rules are the sound suite's; here, that the host's calls reach it
// through the loaded module, and that unloading lets it go.
TEST_F(SoundExports, TheHostRunsAndStopsTheCardAndUnloadingReleasesIt)
{
    EXPECT_EQ(api.GetDGSoundCount(), 1u);
    EXPECT_EQ(api.GetDGFreq(), 0.0);
    ASSERT_EQ(api.SetDGFreq(8000.0), 1);
    EXPECT_EQ(api.GetDGFreq(), 8000.0);
    EXPECT_FALSE(CardFree());
    ASSERT_EQ(api.SetDGFreq(0.0), 1);
    EXPECT_TRUE(CardFree());
    ASSERT_EQ(api.SetDGFreq(8000.0), 1);
    module->Unload();
    EXPECT_TRUE(CardFree());
}

}  // namespace
}  // namespace rz::test::host
