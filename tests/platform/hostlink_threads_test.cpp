// Messages between threads: sends answered on the owner thread, threads that end,
// and the queue descriptor that pollers wait on.
#include <gtest/gtest.h>

#include <cstdlib>
#include <future>
#include <latch>
#include <mutex>
#include <thread>
#include <vector>

#include <ruzada/hostlink.h>

#include "PlatformTesting.h"

namespace {

using namespace rz::test::platform;
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
