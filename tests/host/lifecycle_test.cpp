// The module's life in a host process: load, bind, report, unload.
#include <gtest/gtest.h>

#include <filesystem>
#include <future>

#include <RUZada.h>

#include "HostHarness.h"

namespace {

using namespace std::chrono_literals;
using harness::DebugLog;
using harness::HostWindow;
using harness::LoadedModule;
using harness::ModuleDir;

int ThreadCount()
{
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
        (void)entry;
        ++count;
    }
    return count;
}

class LifecycleTest : public ::testing::Test {
protected:
    ModuleDir dir;
    DebugLog debug;
    HostWindow host;
};

TEST_F(LifecycleTest, LoadingReportsTheProcessorAndStartsTheWorkers)
{
    const int before = ThreadCount();
    LoadedModule module(dir.ModulePath());
    ASSERT_TRUE(module.Loaded());
    ASSERT_EQ(debug.Count("Processor\r\n"), 1);
    const std::string line = debug.Lines().front();
    EXPECT_EQ(line.rfind("Detected ", 0), 0u) << line;

    // The processor figure the export gives is the one the line printed.
    const DWORD speed = module.Get<DWORD (*)()>("GetDGProcessorSpeedKHz")();
    const std::string expected = speed > 1023
        ? "Detected " + std::to_string(speed >> 10) + "." + (std::to_string(1000 + (speed & 1023)).substr(1)) +
              " MHz Processor\r\n"
        : "Detected " + std::to_string(speed) + " KHz Processor\r\n";
    EXPECT_EQ(line, expected);
    EXPECT_EQ(module.Get<DWORD (*)()>("GetDGVersion")(), 0xEB930003u);

    EXPECT_TRUE(harness::WaitUntil([&] { return ThreadCount() >= before + 2; }, 5s));
    module.Unload();
    EXPECT_TRUE(harness::WaitUntil([&] { return ThreadCount() == before; }, 5s));
}

TEST_F(LifecycleTest, InitDGOnAFolderWithoutSnapinsFindsNoModes)
{
    LoadedModule module(dir.ModulePath());
    auto initDG = module.Get<uint64_t (*)(HWND)>("InitDG");
    ASSERT_NE(initDG, nullptr);
    EXPECT_EQ(initDG(host.Handle()), 0u);
    EXPECT_EQ(module.Get<uint64_t (*)()>("EnumRUZadas")(), 0u);
}

TEST_F(LifecycleTest, XmitRecvReachesTheHostProcedureOnTheHostThreadInOrder)
{
    LoadedModule module(dir.ModulePath());
    module.Get<uint64_t (*)(HWND)>("InitDG")(host.Handle());
    module.Get<BOOL (*)(BOOL)>("DGSetXmit")(5);
    module.Get<BOOL (*)(BOOL)>("DGSetRecv")(0);
    ASSERT_TRUE(host.PumpUntil([&] { return host.Messages(host.msgXmitRecv).size() == 2; }, 5s));
    for (const auto& m : host.Messages(host.msgXmitRecv)) {
        EXPECT_EQ(m.wParam, 1u);
        EXPECT_EQ(m.lParam, 0);
        EXPECT_EQ(m.threadId, GetCurrentThreadId());
    }
}

TEST_F(LifecycleTest, RequestComPortFromAWorkerGetsTheHostsAnswer)
{
    LoadedModule module(dir.ModulePath());
    module.Get<uint64_t (*)(HWND)>("InitDG")(host.Handle());
    host.AnswerRequestCom(7);
    auto request = module.Get<LRESULT (*)()>("DGRequestComPort");
    auto answer = std::async(std::launch::async, request);
    ASSERT_TRUE(host.PumpUntil([&] { return answer.wait_for(0s) == std::future_status::ready; }, 5s));
    EXPECT_EQ(answer.get(), 7);
    const auto asked = host.Messages(host.msgRequestCom);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].threadId, GetCurrentThreadId());
}

TEST_F(LifecycleTest, UnloadingBeforeInitDGReleasesEverything)
{
    const int descriptors = harness::OpenDescriptorCount();
    const int threads = ThreadCount();
    {
        LoadedModule module(dir.ModulePath());
        ASSERT_TRUE(module.Loaded());
    }
    EXPECT_TRUE(harness::WaitUntil([&] { return ThreadCount() == threads; }, 5s));
    EXPECT_EQ(harness::OpenDescriptorCount(), descriptors);
}

TEST_F(LifecycleTest, UnloadingAfterInitDGReleasesEverything)
{
    const int descriptors = harness::OpenDescriptorCount();
    const int threads = ThreadCount();
    {
        LoadedModule module(dir.ModulePath());
        module.Get<uint64_t (*)(HWND)>("InitDG")(host.Handle());
        module.Get<BOOL (*)(BOOL)>("DGSetXmit")(1);
    }
    EXPECT_TRUE(harness::WaitUntil([&] { return ThreadCount() == threads; }, 5s));
    EXPECT_EQ(harness::OpenDescriptorCount(), descriptors);
    // The post made before unloading still arrives; the module is gone, the host is not.
    host.PumpFor(20ms);
    EXPECT_EQ(host.Messages(host.msgXmitRecv).size(), 1u);
}

}  // namespace
