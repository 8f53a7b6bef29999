// Messages between threads: sends answered on the owner thread, threads that end,
// and the queue descriptor that pollers wait on.
#include <gtest/gtest.h>

#include <dirent.h>
#include <poll.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <future>
#include <latch>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include <ruzada/hostlink.h>

namespace {

using namespace std::chrono_literals;
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
};

LRESULT Doubling(HWND window, UINT, WPARAM wParam, LPARAM)
{
    auto* probe = static_cast<Probe*>(GetHostWindowUser(window));
    std::lock_guard hold(probe->lock);
    probe->threads.push_back(std::this_thread::get_id());
    return static_cast<LRESULT>(wParam * 2);
}

bool Readable(int fd, std::chrono::milliseconds wait)
{
    pollfd entry{fd, POLLIN, 0};
    return poll(&entry, 1, static_cast<int>(wait.count())) == 1 && (entry.revents & POLLIN);
}

// A message loop as a host runs it: wait on the queue descriptor, then peek.
// False when `done` still does not hold at the deadline.
template <class Done>
bool PumpUntil(Done done)
{
    const auto until = std::chrono::steady_clock::now() + kDeadline;
    const int fd = GetMessageQueueFd();
    MSG msg;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        Readable(fd, 10ms);
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
    }
    return true;
}

template <class Future>
bool Within(const Future& future)
{
    return future.wait_for(kDeadline) == std::future_status::ready;
}

size_t OpenDescriptors()
{
    size_t count = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (readdir(dir))
            ++count;
        closedir(dir);
    }
    return count;
}

// SendMessageA(window, WM_USER, wParam, 0) made from a thread of its own.
class SendFromAnotherThread {
public:
    SendFromAnotherThread(HWND window, WPARAM wParam)
        : m_thread([this, window, wParam] { m_reply.set_value(SendMessageA(window, WM_USER, wParam, 0)); })
    {
    }
    // A send that never returns is the fault under test: end the run, never hang it.
    ~SendFromAnotherThread()
    {
        if (!Answered())
            std::abort();
        m_thread.join();
    }
    bool Answered() const { return Within(m_answer); }
    bool AnsweredNow() const { return m_answer.wait_for(0s) == std::future_status::ready; }
    LRESULT Reply() const { return m_answer.get(); }

private:
    std::promise<LRESULT> m_reply;
    std::shared_future<LRESULT> m_answer = m_reply.get_future().share();
    std::thread m_thread;
};

TEST(HostLinkThreads, ASendIsRunOnTheOwnerThreadWhileItPeeks)
{
    Probe probe;
    HWND window = CreateHostWindow(&Doubling, &probe);
    SendFromAnotherThread send(window, 21);

    bool peekedSomething = false;
    const auto until = std::chrono::steady_clock::now() + kDeadline;
    MSG msg;
    while (!send.AnsweredNow() && std::chrono::steady_clock::now() < until)
        peekedSomething |= PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE) != FALSE;
    ASSERT_TRUE(send.Answered());

    EXPECT_EQ(send.Reply(), 42);
    EXPECT_EQ(probe.Threads(), std::vector{std::this_thread::get_id()});
    EXPECT_FALSE(peekedSomething) << "a sent message is handled, never returned";
    DestroyHostWindow(window);
}

TEST(HostLinkThreads, GetMessageHandlesSendsWhileItWaitsForAPost)
{
    Probe probe;
    std::promise<HWND> created;
    std::promise<MSG> got;
    std::thread owner([&] {
        created.set_value(CreateHostWindow(&Doubling, &probe));
        MSG msg{};
        GetMessageA(&msg, nullptr, 0, 0);
        got.set_value(msg);
    });
    std::future<HWND> window = created.get_future();
    ASSERT_TRUE(Within(window));
    const HWND target = window.get();
    {
        SendFromAnotherThread send(target, 5);
        ASSERT_TRUE(send.Answered());
        EXPECT_EQ(send.Reply(), 10);
    }
    PostMessageA(target, WM_USER + 1, 0, 0);
    std::future<MSG> taken = got.get_future();
    ASSERT_TRUE(Within(taken));
    const std::thread::id ownerId = owner.get_id();
    owner.join();
    EXPECT_EQ(taken.get().message, WM_USER + 1);
    EXPECT_EQ(probe.Threads(), std::vector{ownerId});
}

TEST(HostLinkThreads, TwoThreadsSendingToEachOtherDoNotDeadlock)
{
    constexpr int kRounds = 200;
    Probe probes[2];
    HWND windows[2] = {};
    std::latch created(2);
    std::latch sent(2);
    std::promise<bool> results[2];
    auto side = [&](int self) {
        windows[self] = CreateHostWindow(&Doubling, &probes[self]);
        created.arrive_and_wait();
        bool allRight = true;
        for (int round = 0; round < kRounds; ++round)
            allRight &= SendMessageA(windows[1 - self], WM_USER, static_cast<WPARAM>(round), 0) == 2 * round;
        // Keep answering until the peer is done with this thread's window.
        sent.count_down();
        allRight &= PumpUntil([&] { return sent.try_wait(); });
        results[self].set_value(allRight);
    };
    std::thread a(side, 0);
    std::thread b(side, 1);
    std::future<bool> doneA = results[0].get_future();
    std::future<bool> doneB = results[1].get_future();
    ASSERT_TRUE(Within(doneA));
    ASSERT_TRUE(Within(doneB));
    const std::thread::id ids[2] = {a.get_id(), b.get_id()};
    a.join();
    b.join();
    EXPECT_TRUE(doneA.get());
    EXPECT_TRUE(doneB.get());
    for (int self = 0; self < 2; ++self) {
        const std::vector<std::thread::id> threads = probes[self].Threads();
        EXPECT_EQ(threads.size(), static_cast<size_t>(kRounds));
        EXPECT_EQ(std::set(threads.begin(), threads.end()), std::set{ids[self]});
    }
}

TEST(HostLinkThreads, PostsFromSeveralThreadsKeepEachSendersOrder)
{
    constexpr WPARAM kSenders = 3;
    constexpr WPARAM kEach = 500;
    Probe probe;
    HWND window = CreateHostWindow(&Doubling, &probe);
    std::vector<std::thread> posters;
    for (WPARAM sender = 0; sender < kSenders; ++sender) {
        posters.emplace_back([=] {
            for (WPARAM seq = 0; seq < kEach; ++seq)
                PostMessageA(window, WM_USER, sender << 16 | seq, 0);
        });
    }
    WPARAM next[kSenders] = {};
    MSG msg;
    for (WPARAM taken = 0; taken < kSenders * kEach; ++taken) {
        ASSERT_EQ(GetMessageA(&msg, window, 0, 0), TRUE);
        const WPARAM sender = msg.wParam >> 16;
        ASSERT_LT(sender, kSenders);
        EXPECT_EQ(msg.wParam & 0xFFFF, next[sender]++);
    }
    for (std::thread& poster : posters)
        poster.join();
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    DestroyHostWindow(window);
}

TEST(HostLinkThreads, AWindowWhoseThreadEndedIsGoneWithItsPosts)
{
    Probe probe;
    HWND window = nullptr;
    std::thread owner([&] {
        window = CreateHostWindow(&Doubling, &probe);
        PostMessageA(window, WM_USER, 1, 0);
    });
    owner.join();
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(PostMessageA(window, WM_USER, 2, 0));
    EXPECT_EQ(SendMessageA(window, WM_USER, 3, 0), 0);
    EXPECT_EQ(GetHostWindowUser(window), nullptr);
    EXPECT_TRUE(probe.Threads().empty());
}

TEST(HostLinkThreads, ASenderWaitingOnAThreadThatEndsGetsZero)
{
    Probe probe;
    std::promise<HWND> created;
    std::atomic<bool> sendArrived{false};
    std::thread owner([&] {
        const int fd = GetMessageQueueFd();
        created.set_value(CreateHostWindow(&Doubling, &probe));
        // Ends with the send waiting, never having handled it.
        sendArrived = Readable(fd, kDeadline);
    });
    std::future<HWND> window = created.get_future();
    ASSERT_TRUE(Within(window));
    SendFromAnotherThread send(window.get(), 21);
    ASSERT_TRUE(send.Answered());
    owner.join();
    EXPECT_TRUE(sendArrived);
    EXPECT_EQ(send.Reply(), 0);
    EXPECT_TRUE(probe.Threads().empty());
}

TEST(HostLinkThreads, ASendToAWindowDestroyedBeforeItIsHandledGetsZero)
{
    Probe probe;
    HWND window = CreateHostWindow(&Doubling, &probe);
    const int fd = GetMessageQueueFd();
    SendFromAnotherThread send(window, 21);
    ASSERT_TRUE(Readable(fd, kDeadline)) << "a waiting send makes the descriptor readable";
    ASSERT_TRUE(DestroyHostWindow(window));
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_FALSE(Readable(fd, 0ms)) << "and handling it drains the descriptor";
    ASSERT_TRUE(send.Answered());
    EXPECT_EQ(send.Reply(), 0);
    EXPECT_TRUE(probe.Threads().empty());
}

TEST(HostLinkThreads, QueueFdIsReadableExactlyWhilePostsWait)
{
    Probe probe;
    HWND window = CreateHostWindow(&Doubling, &probe);
    const int fd = GetMessageQueueFd();
    ASSERT_GE(fd, 0);
    EXPECT_EQ(GetMessageQueueFd(), fd);
    EXPECT_FALSE(Readable(fd, 0ms));

    std::thread poster([&] {
        PostMessageA(window, WM_USER, 1, 0);
        PostMessageA(window, WM_USER, 2, 0);
    });
    EXPECT_TRUE(Readable(fd, kDeadline));
    poster.join();
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_TRUE(Readable(fd, 0ms)) << "a peeked message still waits";
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_TRUE(Readable(fd, 0ms)) << "one message left";
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_FALSE(Readable(fd, 0ms)) << "drained once the queue is empty";

    PostMessageA(window, WM_USER, 3, 0);
    EXPECT_TRUE(Readable(fd, 0ms));
    DestroyHostWindow(window);
    EXPECT_FALSE(Readable(fd, 0ms)) << "the destroyed window's post went with it";
}

TEST(HostLinkThreads, EachThreadHasItsOwnFdClosedWhenItEnds)
{
    constexpr int kThreads = 6;
    const int own = GetMessageQueueFd();
    const size_t before = OpenDescriptors();
    std::vector<int> fds(kThreads, -1);
    std::latch allHaveOne(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            fds[i] = GetMessageQueueFd();
            allHaveOne.arrive_and_wait();
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    std::set<int> distinct(fds.begin(), fds.end());
    distinct.insert(own);
    EXPECT_EQ(distinct.size(), static_cast<size_t>(kThreads + 1));
    EXPECT_EQ(distinct.count(-1), 0u);
    EXPECT_EQ(OpenDescriptors(), before);
}

}  // namespace
