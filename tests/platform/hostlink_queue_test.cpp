// One thread's queue: posting, peeking, getting, dispatching and destroying.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include <ruzada/hostlink.h>
#include <ruzada/kernel.h>

namespace {

struct Calls {
    std::vector<MSG> seen;
    LRESULT reply = 0;
};

LRESULT Record(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* calls = static_cast<Calls*>(GetHostWindowUser(window));
    calls->seen.push_back(MSG{window, message, wParam, lParam, 0});
    return calls->reply;
}

DWORD MonotonicMs()
{
    using namespace std::chrono;
    return static_cast<DWORD>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// Every test leaves the thread's queue empty and its windows destroyed, since the
// queue outlives the test.
class HostLinkQueue : public ::testing::Test {
protected:
    void TearDown() override
    {
        TakeAll(nullptr, 0, 0);
        for (HWND window : m_windows)
            DestroyHostWindow(window);
    }
    HWND Make(Calls& calls)
    {
        HWND window = CreateHostWindow(&Record, &calls);
        EXPECT_NE(window, nullptr);
        m_windows.push_back(window);
        return window;
    }
    static std::vector<MSG> TakeAll(HWND filter, UINT first, UINT last)
    {
        std::vector<MSG> taken;
        MSG msg;
        while (PeekMessageA(&msg, filter, first, last, PM_REMOVE))
            taken.push_back(msg);
        return taken;
    }
    std::vector<HWND> m_windows;
};

TEST_F(HostLinkQueue, PostedMessagesComeBackInOrderWithTheirFields)
{
    Calls calls;
    HWND window = Make(calls);
    const DWORD before = MonotonicMs();
    ASSERT_TRUE(PostMessageA(window, WM_USER + 1, 0xFFFFFFC4u, -7));
    ASSERT_TRUE(PostMessageA(window, WM_USER + 2, 2, 0));
    ASSERT_TRUE(PostMessageA(window, WM_USER + 1, 3, 0x7FFFFFFF));
    const DWORD after = MonotonicMs();

    const std::vector<MSG> taken = TakeAll(nullptr, 0, 0);
    ASSERT_EQ(taken.size(), 3u);
    const UINT messages[] = {WM_USER + 1, WM_USER + 2, WM_USER + 1};
    const WPARAM wParams[] = {0xFFFFFFC4u, 2, 3};
    const LPARAM lParams[] = {-7, 0, 0x7FFFFFFF};
    for (size_t i = 0; i < taken.size(); ++i) {
        EXPECT_EQ(taken[i].hwnd, window);
        EXPECT_EQ(taken[i].message, messages[i]);
        EXPECT_EQ(taken[i].wParam, wParams[i]);
        EXPECT_EQ(taken[i].lParam, lParams[i]);
        EXPECT_LE(taken[i].time - before, after - before) << "posted at " << taken[i].time;
    }
    EXPECT_TRUE(calls.seen.empty()) << "posting never calls the procedure";
}

TEST_F(HostLinkQueue, WindowFilterTakesOnlyThatWindowsMessages)
{
    Calls first, second;
    HWND a = Make(first);
    HWND b = Make(second);
    PostMessageA(a, WM_USER, 1, 0);
    PostMessageA(b, WM_USER, 2, 0);
    PostQuitMessage(0);
    PostMessageA(a, WM_USER, 3, 0);

    const std::vector<MSG> ofB = TakeAll(b, 0, 0);
    ASSERT_EQ(ofB.size(), 1u);
    EXPECT_EQ(ofB[0].wParam, 2u);
    const std::vector<MSG> ofA = TakeAll(a, 0, 0);
    ASSERT_EQ(ofA.size(), 2u);
    EXPECT_EQ(ofA[0].wParam, 1u);
    EXPECT_EQ(ofA[1].wParam, 3u);
    // The thread message is left for a loop without a window filter.
    const std::vector<MSG> rest = TakeAll(nullptr, 0, 0);
    ASSERT_EQ(rest.size(), 1u);
    EXPECT_EQ(rest[0].message, WM_QUIT);
    EXPECT_EQ(rest[0].hwnd, nullptr);
}

TEST_F(HostLinkQueue, RangeFilterTakesMatchingMessagesOldestFirstAndAlwaysQuit)
{
    Calls calls;
    HWND window = Make(calls);
    PostMessageA(window, WM_USER + 1, 0, 0);
    PostMessageA(window, WM_USER + 5, 0, 0);
    PostMessageA(window, WM_USER + 2, 0, 0);
    PostMessageA(window, WM_USER + 6, 0, 0);
    PostQuitMessage(0);

    const std::vector<MSG> inRange = TakeAll(nullptr, WM_USER + 2, WM_USER + 5);
    ASSERT_EQ(inRange.size(), 3u);
    EXPECT_EQ(inRange[0].message, WM_USER + 5);
    EXPECT_EQ(inRange[1].message, WM_USER + 2);
    EXPECT_EQ(inRange[2].message, WM_QUIT);
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, WM_USER + 2, WM_USER + 5, PM_REMOVE));
    EXPECT_TRUE(PeekMessageA(&msg, window, WM_USER + 6, WM_USER + 6, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_USER + 6);
    const std::vector<MSG> rest = TakeAll(nullptr, 0, 0);
    ASSERT_EQ(rest.size(), 1u);
    EXPECT_EQ(rest[0].message, WM_USER + 1);
}

TEST_F(HostLinkQueue, NoRemoveLeavesTheMessageWaiting)
{
    Calls calls;
    HWND window = Make(calls);
    PostMessageA(window, WM_USER, 1, 0);
    PostMessageA(window, WM_USER, 2, 0);
    MSG msg{};
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.wParam, 1u);
    ASSERT_TRUE(PeekMessageA(&msg, window, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.wParam, 1u);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 1u);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 2u);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
}

TEST_F(HostLinkQueue, GetMessageTakesPostsInOrderAndEndsAtQuit)
{
    Calls calls;
    HWND window = Make(calls);
    PostMessageA(window, WM_USER, 1, 0);
    PostQuitMessage(42);
    PostMessageA(window, WM_USER, 2, 0);
    MSG msg{};
    EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), TRUE);
    EXPECT_EQ(msg.wParam, 1u);
    EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), FALSE);
    EXPECT_EQ(msg.message, WM_QUIT);
    EXPECT_EQ(msg.wParam, 42u);
    EXPECT_EQ(msg.hwnd, nullptr);
    EXPECT_EQ(GetMessageA(&msg, window, 0, 0), TRUE);
    EXPECT_EQ(msg.wParam, 2u);
}

TEST_F(HostLinkQueue, DispatchCallsTheProcedureOfTheMessagesWindow)
{
    Calls first, second;
    first.reply = 11;
    second.reply = 22;
    Make(first);
    HWND b = Make(second);
    PostMessageA(b, WM_USER + 3, 5, -5);
    PostQuitMessage(0);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_FALSE(TranslateMessage(&msg));
    EXPECT_EQ(DispatchMessageA(&msg), 22);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(DispatchMessageA(&msg), 0) << "a thread message has no procedure";

    EXPECT_TRUE(first.seen.empty());
    ASSERT_EQ(second.seen.size(), 1u);
    EXPECT_EQ(second.seen[0].hwnd, b);
    EXPECT_EQ(second.seen[0].message, WM_USER + 3);
    EXPECT_EQ(second.seen[0].wParam, 5u);
    EXPECT_EQ(second.seen[0].lParam, -5);
}

TEST_F(HostLinkQueue, SendOnTheOwnerThreadCallsTheProcedureAtOnce)
{
    Calls calls;
    calls.reply = -3;
    HWND window = Make(calls);
    EXPECT_EQ(SendMessageA(window, WM_USER + 9, 1, 2), -3);
    ASSERT_EQ(calls.seen.size(), 1u);
    EXPECT_EQ(calls.seen[0].message, WM_USER + 9);
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) << "nothing was queued";
}

TEST_F(HostLinkQueue, ADestroyedWindowIsNoWindowAndLosesItsPosts)
{
    Calls calls;
    calls.reply = 5;
    HWND window = CreateHostWindow(&Record, &calls);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(IsWindow(window));
    EXPECT_EQ(GetHostWindowUser(window), &calls);
    PostMessageA(window, WM_USER, 1, 0);
    const MSG saved{window, WM_USER, 2, 0, 0};

    ASSERT_TRUE(DestroyHostWindow(window));
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) << "the pending post went with the window";
    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(PostMessageA(window, WM_USER, 3, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_EQ(SendMessageA(window, WM_USER, 4, 0), 0);
    EXPECT_EQ(DispatchMessageA(&saved), 0);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(GetHostWindowUser(window), nullptr);
    EXPECT_FALSE(DestroyHostWindow(window));
    EXPECT_TRUE(calls.seen.empty());

    // Handles are never reused, so the old one stays dead beside a new window.
    HWND next = Make(calls);
    EXPECT_NE(next, window);
    EXPECT_FALSE(IsWindow(window));
}

TEST_F(HostLinkQueue, AnotherThreadCanNeitherDestroyNorDispatchToAWindow)
{
    Calls calls;
    HWND window = Make(calls);
    BOOL destroyed = TRUE;
    DWORD destroyError = 0;
    LRESULT dispatched = -1;
    std::thread other([&] {
        destroyed = DestroyHostWindow(window);
        destroyError = GetLastError();
        const MSG msg{window, WM_USER, 0, 0, 0};
        dispatched = DispatchMessageA(&msg);
    });
    other.join();
    EXPECT_FALSE(destroyed);
    EXPECT_EQ(destroyError, ERROR_ACCESS_DENIED);
    EXPECT_EQ(dispatched, 0);
    EXPECT_TRUE(calls.seen.empty());
    EXPECT_TRUE(IsWindow(window));
}

TEST_F(HostLinkQueue, PostsBeyondTheLimitAreRefusedButQuitStillArrives)
{
    Calls calls;
    HWND window = Make(calls);
    for (UINT i = 0; i < RZ_POSTED_MESSAGE_LIMIT; ++i)
        ASSERT_TRUE(PostMessageA(window, WM_USER, i, 0)) << i;
    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(PostMessageA(window, WM_USER, RZ_POSTED_MESSAGE_LIMIT, 0));
    EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_QUOTA);
    PostQuitMessage(0);

    const std::vector<MSG> taken = TakeAll(nullptr, 0, 0);
    ASSERT_EQ(taken.size(), RZ_POSTED_MESSAGE_LIMIT + 1);
    EXPECT_EQ(taken[RZ_POSTED_MESSAGE_LIMIT - 1].wParam, RZ_POSTED_MESSAGE_LIMIT - 1);
    EXPECT_EQ(taken.back().message, WM_QUIT);
    EXPECT_TRUE(PostMessageA(window, WM_USER, 0, 0)) << "room again once taken";
}

TEST_F(HostLinkQueue, BadArgumentsGetTheFixedAnswers)
{
    HWND unknown = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x7FFF1234));
    MSG msg{};

    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(CreateHostWindow(nullptr, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    for (HWND window : {HWND{}, unknown}) {
        SetLastError(ERROR_SUCCESS);
        EXPECT_FALSE(PostMessageA(window, WM_USER, 0, 0));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
        EXPECT_EQ(SendMessageA(window, WM_USER, 0, 0), 0);
        EXPECT_FALSE(IsWindow(window));
        EXPECT_EQ(GetHostWindowUser(window), nullptr);
        EXPECT_FALSE(DestroyHostWindow(window));
    }
    const MSG toUnknown{unknown, WM_USER, 0, 0, 0};
    EXPECT_EQ(DispatchMessageA(&toUnknown), 0);
    EXPECT_EQ(DispatchMessageA(nullptr), 0);
    EXPECT_FALSE(TranslateMessage(nullptr));

    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(PeekMessageA(nullptr, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(GetMessageA(nullptr, nullptr, 0, 0), -1);
    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(PeekMessageA(&msg, unknown, 0, 0, PM_REMOVE));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_EQ(GetMessageA(&msg, unknown, 0, 0), -1);
}

}  // namespace
