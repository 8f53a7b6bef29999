// The host link: one thread's queue (posting, peeking, getting, dispatching and
// destroying), the registered message numbers, and messages between threads
// (sends answered on the owner thread, threads that end, the queue descriptor).
#include <gtest/gtest.h>

#include <cstdlib>
#include <future>
#include <latch>
#include <mutex>
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

// A destroyed window, a null one and one never made get the same answers; null
// arguments get theirs.
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
    EXPECT_EQ(Attempt([] { return CreateHostWindow(nullptr, nullptr); }), (Outcome{0, ERROR_INVALID_PARAMETER}));
    EXPECT_EQ(Attempt([] { return PeekMessageA(nullptr, nullptr, 0, 0, PM_REMOVE); }),
              (Outcome{FALSE, ERROR_INVALID_PARAMETER}));
    EXPECT_FALSE(DispatchMessageA(nullptr) || TranslateMessage(nullptr));
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
    EXPECT_EQ(Attempt([] { return RegisterWindowMessageA(nullptr); }), (Outcome{0, ERROR_INVALID_PARAMETER}));
    EXPECT_EQ(RegisterWindowMessageA(""), 0u);
}

constexpr auto kDeadline = 10s;

// Notes the thread of every call and answers twice the wParam.
struct Probe {
    std::mutex lock;
    std::vector<std::thread::id> threads;

    std::vector<std::thread::id> Threads()
    {
        std::lock_guard hold(lock);
        return threads;
    }
    static LRESULT Doubling(HWND window, UINT, WPARAM wParam, LPARAM)
    {
        auto* probe = static_cast<Probe*>(GetHostWindowUser(window));
        std::lock_guard hold(probe->lock);
        probe->threads.push_back(std::this_thread::get_id());
        return static_cast<LRESULT>(wParam * 2);
    }
    HWND Make() { return CreateHostWindow(&Doubling, this); }
};

// A message loop as a host runs it: wait on the queue descriptor, then peek.
bool PumpUntil(const std::function<bool()>& done)
{
    return WaitUntil(
        [&] {
            Readable(GetMessageQueueFd(), 10ms);
            MSG msg;
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageA(&msg);
            return done();
        },
        kDeadline);
}

template <class Future>
bool Within(const Future& future)
{
    return future.wait_for(kDeadline) == std::future_status::ready;
}

// SendMessageA(window, WM_USER, wParam, 0) made from a thread of its own.
class SendFromAnotherThread {
public:
    SendFromAnotherThread(HWND window, WPARAM wParam)
        : m_thread([this, window, wParam] { m_reply.set_value(SendMessageA(window, WM_USER, wParam, 0)); })
    {}
    // A send that never returns is the fault under test: end the run, never hang it.
    ~SendFromAnotherThread()
    {
        if (!Within(m_answer))
            std::abort();
        m_thread.join();
    }
    bool AnsweredNow() const { return m_answer.wait_for(0s) == std::future_status::ready; }
    // The reply, or -1 when none came in time.
    LRESULT Reply() const { return Within(m_answer) ? m_answer.get() : -1; }

private:
    std::promise<LRESULT> m_reply;
    std::shared_future<LRESULT> m_answer = m_reply.get_future().share();
    std::thread m_thread;
};

// The window a thread made, once it has made it; null when it did not in time.
HWND MadeWindow(std::promise<HWND>& created)
{
    std::future<HWND> made = created.get_future();
    return Within(made) ? made.get() : nullptr;
}

// A send wakes GetMessageA's wait and is handled inside it; the post ends it.
TEST(HostLinkThreads, GetMessageHandlesSendsWhileItWaitsForAPost)
{
    Probe probe;
    std::promise<HWND> created;
    std::promise<UINT> got;
    std::thread owner([&] {
        created.set_value(probe.Make());
        MSG msg{};
        GetMessageA(&msg, nullptr, 0, 0);
        got.set_value(msg.message);
    });
    const HWND target = MadeWindow(created);
    ASSERT_NE(target, nullptr);
    EXPECT_EQ(SendFromAnotherThread(target, 5).Reply(), 10);
    PostMessageA(target, WM_USER + 1, 0, 0);
    std::future<UINT> taken = got.get_future();
    ASSERT_TRUE(Within(taken));
    EXPECT_EQ(probe.Threads(), std::vector{owner.get_id()});
    owner.join();
    EXPECT_EQ(taken.get(), WM_USER + 1);
}

TEST(HostLinkThreads, TwoThreadsSendingToEachOtherDoNotDeadlock)
{
    constexpr int kRounds = 200;
    Probe probes[2];
    HWND windows[2] = {};
    std::latch created(2), sent(2);
    std::promise<bool> results[2];
    auto side = [&](int self) {
        windows[self] = probes[self].Make();
        created.arrive_and_wait();
        bool allRight = true;
        for (int round = 0; round < kRounds; ++round)
            allRight &= SendMessageA(windows[1 - self], WM_USER, static_cast<WPARAM>(round), 0) == 2 * round;
        // Keep answering until the peer is done with this thread's window.
        sent.count_down();
        allRight &= PumpUntil([&] { return sent.try_wait(); });
        results[self].set_value(allRight);
    };
    std::thread sides[2] = {std::thread(side, 0), std::thread(side, 1)};
    for (int self = 0; self < 2; ++self) {
        std::future<bool> done = results[self].get_future();
        ASSERT_TRUE(Within(done));
        EXPECT_TRUE(done.get());
        EXPECT_EQ(probes[self].Threads(), std::vector(kRounds, sides[self].get_id()));
        sides[self].join();
    }
}

TEST(HostLinkThreads, AThreadThatEndsTakesItsWindowAlongAndAWaitingSenderGetsZero)
{
    Probe probe;
    std::promise<HWND> created;
    std::atomic<bool> sendArrived{false};
    std::thread owner([&] {
        const int fd = GetMessageQueueFd();
        created.set_value(probe.Make());
        // Ends with the send waiting, never having handled it.
        sendArrived = Readable(fd, kDeadline);
    });
    const HWND window = MadeWindow(created);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(SendFromAnotherThread(window, 21).Reply(), 0);
    owner.join();
    EXPECT_TRUE(sendArrived);
    EXPECT_FALSE(IsWindow(window) || PostMessageA(window, WM_USER, 2, 0) || SendMessageA(window, WM_USER, 3, 0));
    EXPECT_TRUE(probe.Threads().empty());
}

// The descriptor is readable exactly while a message waits, posted from another
// thread or a send; a destroyed window takes its own along.
TEST(HostLinkThreads, TheQueueDescriptorIsReadableExactlyWhileMessagesWait)
{
    Probe probe;
    HWND window = probe.Make();
    const int fd = GetMessageQueueFd();
    ASSERT_GE(fd, 0);
    EXPECT_FALSE(Readable(fd));
    std::thread([&] { PostMessageA(window, WM_USER, 1, 0); }).join();
    EXPECT_TRUE(Readable(fd));
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_FALSE(Readable(fd)) << "drained once the queue is empty";
    {
        // The queue is empty: only the send's arrival makes the descriptor readable.
        SendFromAnotherThread send(window, 21);
        ASSERT_TRUE(WaitUntil([&] { return Readable(fd); }));
        PostMessageA(window, WM_USER, 3, 0);
        ASSERT_TRUE(DestroyHostWindow(window));
        EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) << "the post and the send went with the window";
        EXPECT_FALSE(Readable(fd));
        EXPECT_EQ(send.Reply(), 0);
    }
    EXPECT_TRUE(probe.Threads().empty());
}

// MsgWaitForMultipleObjects wakes for a message that waits or comes, posted or
// sent, and leaves it for PeekMessageA; a signalled handle wins over a message.
// A send is run on the owner thread inside its peek.
TEST(HostLinkThreads, MsgWaitWakesForAMessageOrAHandleAndLeavesTheMessage)
{
    constexpr DWORD kLongWaitMs = 10000;
    Probe probe;
    HWND window = probe.Make();
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, 20, QS_ALLINPUT), WAIT_TIMEOUT);
    std::thread([&] { PostMessageA(window, WM_USER, 1, 0); }).join();
    EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, kLongWaitMs, QS_ALLINPUT), WAIT_OBJECT_0 + 1);
    SetEvent(event);
    EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, kLongWaitMs, QS_ALLINPUT), WAIT_OBJECT_0);
    MSG msg;
    EXPECT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    {
        SendFromAnotherThread send(window, 4);
        EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, kLongWaitMs, QS_ALLINPUT), WAIT_OBJECT_0);
        EXPECT_FALSE(send.AnsweredNow());
        // A peek answers the send on this thread and never returns it.
        EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
        EXPECT_EQ(send.Reply(), 8);
    }
    EXPECT_EQ(probe.Threads(), std::vector{std::this_thread::get_id()});
    EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, TRUE, 0, QS_ALLINPUT), WAIT_FAILED);
    CloseHandle(event);
    DestroyHostWindow(window);
}

TEST(HostLinkThreads, EachThreadHasItsOwnDescriptorClosedWhenItEnds)
{
    const int own = GetMessageQueueFd();
    const int before = OpenDescriptorCount();
    int other = -1;
    std::thread([&] { other = GetMessageQueueFd(); }).join();
    EXPECT_GE(other, 0);
    EXPECT_NE(other, own);
    EXPECT_EQ(OpenDescriptorCount(), before);
}

}  // namespace
