// Detach waits for the worker threads while it keeps serving the calling thread's
// messages, and gives up on a worker after two seconds.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "core/Globals.h"
#include "entry/Lifecycle.h"

namespace {

std::mutex g_linesLock;
std::vector<std::string> g_lines;

void Collect(const char* text, void*)
{
    std::lock_guard hold(g_linesLock);
    g_lines.emplace_back(text);
}

LRESULT Answer(HWND, UINT, WPARAM, LPARAM) { return 9; }

class DetachTest : public ::testing::Test {
protected:
    void SetUp() override { SetDebugOutputHandler(&Collect, nullptr); }
    void TearDown() override { SetDebugOutputHandler(nullptr, nullptr); }
};

HWND g_host = nullptr;

DWORD SendToTheHost(void* reply)
{
    *static_cast<std::atomic<LRESULT>*>(reply) = SendMessageA(g_host, WM_USER, 0, 0);
    return 0;
}

TEST_F(DetachTest, ServesSendsToTheUnloadingThreadWhileAWorkerFinishes)
{
    g_host = CreateHostWindow(&Answer, nullptr);
    std::atomic<LRESULT> reply{0};
    g_hRecvThread = CreateThread(nullptr, 0, &SendToTheHost, &reply, 0, nullptr);
    ASSERT_NE(g_hRecvThread, nullptr);
    DetachModule();
    EXPECT_EQ(reply.load(), 9);
    std::lock_guard hold(g_linesLock);
    EXPECT_TRUE(g_lines.empty());
    DestroyHostWindow(g_host);
}

DWORD SleepForever(void*)
{
    for (;;)
        Sleep(1000);
}

TEST_F(DetachTest, AWorkerThatDoesNotEndIsReportedAndCancelledAfterTwoSeconds)
{
    g_hRecvThread = CreateThread(nullptr, 0, &SleepForever, nullptr, 0, nullptr);
    ASSERT_NE(g_hRecvThread, nullptr);
    HANDLE thread = g_hRecvThread;
    const DWORD start = GetTickCount();
    DetachModule();
    const DWORD took = GetTickCount() - start;
    EXPECT_GE(took, 2000u);
    EXPECT_LT(took, 6000u);
    {
        std::lock_guard hold(g_linesLock);
        ASSERT_EQ(g_lines.size(), 1u);
        EXPECT_EQ(g_lines[0], "RUZada Warning: Receive Thread did not exit...\n");
    }
    // Cancelled at its sleep, and its handle closed by detach.
    EXPECT_EQ(g_hRecvThread, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_FAILED);
}

}  // namespace
