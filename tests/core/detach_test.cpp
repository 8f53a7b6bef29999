// Detach waits for the worker threads while it keeps serving the calling thread's
// messages, and gives up on a worker after two seconds.
#include <gtest/gtest.h>

#include <atomic>

#include "SuiteHelpers.h"
#include "core/Globals.h"
#include "entry/Lifecycle.h"

namespace {

using namespace rz::test::support;

struct Sender {
    HWND host;
    std::atomic<LRESULT> reply{0};
};

DWORD SendToTheHost(void* sender)
{
    auto* self = static_cast<Sender*>(sender);
    self->reply = SendMessageA(self->host, WM_USER, 0, 0);
    return 0;
}

DWORD SleepForever(void*)
{
    for (;;)
        Sleep(1000);
}

TEST(Detach, ServesSendsToTheUnloadingThreadWhileAWorkerFinishes)
{
    DebugLines debug;
    RecordingWindow host;
    host.Answer(9);
    Sender sender{host.Handle()};
    g_hRecvThread = CreateThread(nullptr, 0, &SendToTheHost, &sender, 0, nullptr);
    ASSERT_NE(g_hRecvThread, nullptr);
    DetachModule();
    EXPECT_EQ(sender.reply.load(), 9);
    EXPECT_TRUE(debug.Lines().empty());
}

TEST(Detach, AWorkerThatDoesNotEndIsReportedAndCancelledAfterTwoSeconds)
{
    DebugLines debug;
    g_hRecvThread = CreateThread(nullptr, 0, &SleepForever, nullptr, 0, nullptr);
    ASSERT_NE(g_hRecvThread, nullptr);
    HANDLE thread = g_hRecvThread;
    const DWORD start = GetTickCount();
    DetachModule();
    const DWORD took = GetTickCount() - start;
    EXPECT_GE(took, 2000u);
    EXPECT_LT(took, 6000u);
    EXPECT_EQ(debug.Lines(), std::vector<std::string>{"RUZada Warning: Receive Thread did not exit...\n"});
    // Cancelled at its sleep, and its handle closed by detach.
    EXPECT_EQ(g_hRecvThread, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_FAILED);
}

}  // namespace
