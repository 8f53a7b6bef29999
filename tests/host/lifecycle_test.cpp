// The module's life in a host process: load, bind, report, unload.
#include <future>

#include "module_fixture.h"

namespace rz::test::host {
namespace {

using rz::test::harness::ThreadCount;

using LifecycleTest = ModuleTest;

TEST_F(LifecycleTest, LoadingReportsTheProcessorAndStartsTheWorkers)
{
    const int before = ThreadCount();
    Load();
    ASSERT_EQ(debug.Count("Processor\r\n"), 1);
    const std::string line = debug.Lines().front();
    // The processor figure the export gives is the one the line printed.
    const DWORD speed = api.GetDGProcessorSpeedKHz();
    const std::string expected = speed > 1023
                                     ? "Detected " + std::to_string(speed >> 10) + "." +
                                           (std::to_string(1000 + (speed & 1023)).substr(1)) + " MHz Processor\r\n"
                                     : "Detected " + std::to_string(speed) + " KHz Processor\r\n";
    EXPECT_EQ(line, expected);
    EXPECT_EQ(api.GetDGVersion(), 0xEB930003u);

    EXPECT_TRUE(rz::test::harness::WaitUntil([&] { return ThreadCount() >= before + 2; }, 5s));
    module->Unload();
    EXPECT_TRUE(rz::test::harness::WaitUntil([&] { return ThreadCount() == before; }, 5s));
}

TEST_F(LifecycleTest, XmitRecvReachesTheHostProcedureOnTheHostThreadInOrder)
{
    Load();
    api.InitDG(host.Handle());
    api.DGSetXmit(5);
    api.DGSetRecv(0);
    ASSERT_TRUE(host.PumpUntil([&] { return host.Messages(host.msgXmitRecv).size() == 2; }, 5s));
    for (const auto& m : host.Messages(host.msgXmitRecv)) {
        EXPECT_EQ(m.wParam, 1u);
        EXPECT_EQ(m.lParam, 0);
        EXPECT_EQ(m.threadId, GetCurrentThreadId());
    }
}

TEST_F(LifecycleTest, RequestComPortFromAWorkerGetsTheHostsAnswer)
{
    Load();
    api.InitDG(host.Handle());
    host.AnswerRequestCom(7);
    auto answer = std::async(std::launch::async, api.DGRequestComPort);
    ASSERT_TRUE(host.PumpUntil([&] { return answer.wait_for(0s) == std::future_status::ready; }, 5s));
    EXPECT_EQ(answer.get(), 7);
    const auto asked = host.Messages(host.msgRequestCom);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].threadId, GetCurrentThreadId());
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
    host.PumpFor(20ms);
    EXPECT_EQ(host.Messages(host.msgXmitRecv).size(), bound ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(HostWindow, UnloadTest, ::testing::Bool());

}  // namespace
}  // namespace rz::test::host
