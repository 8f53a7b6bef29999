// The module's life in a host process: load, bind, report, drive the card,
// unload, leaving no thread, descriptor or open card behind.
#include "module_fixture.h"

namespace rz::test::host {
namespace {

using rz::test::harness::ThreadCount;
using rz::test::harness::WaitUntil;

using LifecycleTest = ModuleTest;

// Loading reports the processor once (its wording is the core suite's) and starts
// the workers. Whether or not a host window was bound, unloading leaves no thread
// and no descriptor behind; a post made before still arrives, as the host outlives it.
class UnloadTest : public ModuleTest, public ::testing::WithParamInterface<bool> {};

TEST_P(UnloadTest, LoadingStartsTheWorkersAndUnloadingReleasesEverything)
{
    const bool bound = GetParam();
    // The unload waits on this thread's queue descriptor, which stays the thread's.
    ASSERT_GE(GetMessageQueueFd(), 0);
    const int descriptors = rz::test::harness::OpenDescriptorCount();
    const int threads = ThreadCount();
    Load();
    EXPECT_EQ(debug.Count("Processor\r\n"), 1);
    EXPECT_EQ(api.GetDGVersion(), 0xEB930003u);
    EXPECT_TRUE(WaitUntil([&] { return ThreadCount() >= threads + 2; }));
    if (bound) {
        api.InitDG(host.Handle());
        api.DGSetXmit(1);
    }
    module.reset();
    EXPECT_TRUE(WaitUntil([&] { return ThreadCount() == threads; }));
    EXPECT_EQ(rz::test::harness::OpenDescriptorCount(), descriptors);
    host.Drain();
    EXPECT_EQ(host.Messages(host.msgXmitRecv).size(), bound ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(HostWindow, UnloadTest, ::testing::Bool());

// True when both loopback ends open, that is when the module holds neither.
bool CardFree()
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

// The card's rules are the sound suite's; here, that the host's calls reach it
// through the loaded module, and that unloading lets it go.
TEST_F(LifecycleTest, TheHostRunsAndStopsTheCardAndUnloadingReleasesIt)
{
    Load({}, "", "loopback");
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
