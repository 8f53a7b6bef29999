// The module's life in a host process: load, bind, report, unload.
#include "module_fixture.h"

namespace rz::test::host {
namespace {

using rz::test::harness::ThreadCount;

using LifecycleTest = ModuleTest;

TEST_F(LifecycleTest, LoadingReportsTheProcessorAndStartsTheWorkers)
{
    const int before = ThreadCount();
    Load();
    // Its wording is the core suite's; here, that attach writes it once, with the
    // figure that the export gives.
    ASSERT_EQ(debug.Count("Processor\r\n"), 1);
    const DWORD speed = api.GetDGProcessorSpeedKHz();
    const std::string figure = speed > 1023 ? std::to_string(speed >> 10) + "." : std::to_string(speed) + " KHz";
    EXPECT_EQ(debug.Lines().front().rfind("Detected " + figure, 0), 0u);
    EXPECT_EQ(api.GetDGVersion(), 0xEB930003u);

    EXPECT_TRUE(rz::test::harness::WaitUntil([&] { return ThreadCount() >= before + 2; }, 5s));
    module->Unload();
    EXPECT_TRUE(rz::test::harness::WaitUntil([&] { return ThreadCount() == before; }, 5s));
}

// Whether or not a host window was bound, unloading leaves no thread and no
// descriptor behind; a post made before still arrives, as the host outlives it.
class UnloadTest : public ModuleTest, public ::testing::WithParamInterface<bool> {};

TEST_P(UnloadTest, UnloadingReleasesEverything)
{
    const bool bound = GetParam();
    // The unload waits on this thread's queue descriptor, which stays the thread's.
    ASSERT_GE(GetMessageQueueFd(), 0);
    const int descriptors = rz::test::harness::OpenDescriptorCount();
    const int threads = ThreadCount();
    Load();
    if (bound) {
        api.InitDG(host.Handle());
        api.DGSetXmit(1);
    }
    module.reset();
    EXPECT_TRUE(rz::test::harness::WaitUntil([&] { return ThreadCount() == threads; }, 5s));
    EXPECT_EQ(rz::test::harness::OpenDescriptorCount(), descriptors);
    host.Drain();
    EXPECT_EQ(host.Messages(host.msgXmitRecv).size(), bound ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(HostWindow, UnloadTest, ::testing::Bool());

}  // namespace
}  // namespace rz::test::host
