// One thread's queue: posting, peeking, getting, dispatching and destroying; and
// the registered message numbers, one per name process-wide.
#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <tuple>
#include <vector>

#include <ruzada/hostlink.h>

#include "PlatformTesting.h"

namespace {

using namespace rz::test::platform;

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

auto Fields(const MSG& m) { return std::tuple(m.hwnd, m.message, m.wParam, m.lParam); }

DWORD MonotonicMs() { return static_cast<DWORD>(Clock::now().time_since_epoch() / 1ms); }

// Every test leaves the thread's queue empty and its windows destroyed, since the
// queue outlives the test.
class HostLinkQueue : public ::testing::Test {
protected:
    void TearDown() override
    {
        TakeAll();
        for (HWND window : m_windows)
            DestroyHostWindow(window);
    }
    HWND Make(Calls& calls)
    {
        m_windows.push_back(CreateHostWindow(&Record, &calls));
        EXPECT_NE(m_windows.back(), nullptr);
        return m_windows.back();
    }
    // The wParams of the messages taken.
    static std::vector<WPARAM> TakeAll()
    {
        std::vector<WPARAM> taken;
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            taken.push_back(msg.wParam);
        return taken;
    }
    std::vector<HWND> m_windows;
};

TEST_F(HostLinkQueue, PostsComeBackInOrderAndDispatchCallsTheProcedureOfTheirWindow)
{
    Calls first{{}, 11}, second{{}, 22};
    HWND a = Make(first);
    HWND b = Make(second);
    const MSG posts[] = {
        {b, WM_USER + 1, 0xFFFFFFC4u, -7, 0}, {a, WM_USER + 2, 2, 0, 0}, {b, WM_USER + 1, 3, 0x7FFFFFFF, 0}};
    const DWORD before = MonotonicMs();
    for (const MSG& post : posts)
        ASSERT_TRUE(PostMessageA(post.hwnd, post.message, post.wParam, post.lParam));
    const DWORD after = MonotonicMs();
    EXPECT_TRUE(first.seen.empty() && second.seen.empty()) << "posting never calls the procedure";
    MSG msg;
    for (const MSG& post : posts) {
        ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
        EXPECT_EQ(Fields(msg), Fields(post));
        EXPECT_LE(msg.time - before, after - before) << "posted at " << msg.time;
        EXPECT_FALSE(TranslateMessage(&msg));
        EXPECT_EQ(DispatchMessageA(&msg), post.hwnd == a ? 11 : 22);
    }
    ASSERT_EQ(second.seen.size(), 2u);
    EXPECT_EQ(Fields(second.seen[1]), Fields(posts[2]));

    // On the owner thread a send calls the procedure at once and queues nothing.
    EXPECT_EQ(SendMessageA(a, WM_USER + 9, 1, 2), 11);
    ASSERT_EQ(first.seen.size(), 2u);
    EXPECT_EQ(Fields(first.seen[1]), std::tuple(a, WM_USER + 9, WPARAM{1}, LPARAM{2}));
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
}

// A destroyed window, a null one and one never made get the same answers.
TEST_F(HostLinkQueue, ADestroyedWindowIsNoWindowAndLosesItsPosts)
{
    Calls calls;
    HWND window = CreateHostWindow(&Record, &calls);
    ASSERT_TRUE(IsWindow(window));
    EXPECT_EQ(GetHostWindowUser(window), &calls);
    PostMessageA(window, WM_USER, 1, 0);
    ASSERT_TRUE(DestroyHostWindow(window));
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) << "the pending post went with the window";
    for (HWND gone : {window, HWND{}, reinterpret_cast<HWND>(static_cast<uintptr_t>(0x7FFF1234))}) {
        EXPECT_EQ(Attempt([&] { return PostMessageA(gone, WM_USER, 3, 0); }),
                  (Outcome{FALSE, ERROR_INVALID_WINDOW_HANDLE}));
        EXPECT_EQ(SendMessageA(gone, WM_USER, 4, 0), 0);
        msg = MSG{gone, WM_USER, 2, 0, 0};
        EXPECT_EQ(DispatchMessageA(&msg), 0);
        EXPECT_FALSE(IsWindow(gone) || GetHostWindowUser(gone) || DestroyHostWindow(gone));
    }
    // Handles are never reused, so the old one stays dead beside a new window.
    HWND next = Make(calls);
    EXPECT_NE(next, window);
    EXPECT_FALSE(IsWindow(window));

    // Only the owner thread may destroy a window or dispatch to it.
    Outcome destroyed{};
    LRESULT dispatched = -1;
    std::thread([&] {
        destroyed = Attempt([&] { return DestroyHostWindow(next); });
        const MSG toNext{next, WM_USER, 0, 0, 0};
        dispatched = DispatchMessageA(&toNext);
    }).join();
    EXPECT_EQ(destroyed, (Outcome{FALSE, ERROR_ACCESS_DENIED}));
    EXPECT_EQ(dispatched, 0);
    EXPECT_TRUE(calls.seen.empty());
    EXPECT_TRUE(IsWindow(next));
}

TEST_F(HostLinkQueue, PostsBeyondTheLimitAreRefused)
{
    Calls calls;
    HWND window = Make(calls);
    for (UINT i = 0; i < RZ_POSTED_MESSAGE_LIMIT; ++i)
        ASSERT_TRUE(PostMessageA(window, WM_USER, i, 0)) << i;
    EXPECT_EQ(Attempt([&] { return PostMessageA(window, WM_USER, 0, 0); }), (Outcome{FALSE, ERROR_NOT_ENOUGH_QUOTA}));
    EXPECT_EQ(TakeAll().size(), RZ_POSTED_MESSAGE_LIMIT);
    EXPECT_TRUE(PostMessageA(window, WM_USER, 0, 0)) << "room again once taken";
}

TEST(HostLinkArguments, NullArgumentsGetTheFixedAnswers)
{
    EXPECT_EQ(Attempt([] { return CreateHostWindow(nullptr, nullptr); }), (Outcome{0, ERROR_INVALID_PARAMETER}));
    EXPECT_EQ(DispatchMessageA(nullptr), 0);
    EXPECT_FALSE(TranslateMessage(nullptr));
    EXPECT_EQ(Attempt([] { return PeekMessageA(nullptr, nullptr, 0, 0, PM_REMOVE); }),
              (Outcome{FALSE, ERROR_INVALID_PARAMETER}));
    EXPECT_EQ(Attempt([] { return RegisterWindowMessageA(nullptr); }), (Outcome{0, ERROR_INVALID_PARAMETER}));
    EXPECT_EQ(RegisterWindowMessageA(""), 0u);
}

TEST(HostLinkRegistry, EachNameHasOneIdentifierInRangeWhateverItsCase)
{
    const UINT id = RegisterWindowMessageA("AZ_REGISTRY_CASE");
    EXPECT_EQ(RegisterWindowMessageA("az_registry_case"), id);
    EXPECT_EQ(RegisterWindowMessageA("Az_Registry_Case"), id);
    std::set<UINT> ids{id};
    for (int i = 0; i < 200; ++i)
        ids.insert(RegisterWindowMessageA(("HL_REGISTRY_DISTINCT_" + std::to_string(i)).c_str()));
    EXPECT_EQ(ids.size(), 201u);
    EXPECT_GE(*ids.begin(), 0xC000u);
    EXPECT_LE(*ids.rbegin(), 0xFFFFu);
    // Names that differ only beyond ASCII letters are not folded together.
    EXPECT_NE(RegisterWindowMessageA("HL_REGISTRY_[1]"), RegisterWindowMessageA("HL_REGISTRY_{1}"));
}

}  // namespace
