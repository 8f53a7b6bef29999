// Events, waits and the handle table: signals taken exactly once, wait-any order,
// time-outs, bad and closed handles, and descriptors given back.
#include <gtest/gtest.h>

#include <dirent.h>
#include <poll.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include <ruzada/kernel.h>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

template <class Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds limit = 10s)
{
    const auto until = Clock::now() + limit;
    while (!condition()) {
        if (Clock::now() > until)
            return false;
        std::this_thread::yield();
    }
    return true;
}

long ElapsedMs(Clock::time_point since)
{
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

size_t OpenDescriptors()
{
    size_t count = 0;
    DIR* listing = opendir("/proc/self/fd");
    while (readdir(listing))
        ++count;
    closedir(listing);
    return count;
}

bool PollsReadable(int fd)
{
    pollfd entry{fd, POLLIN, 0};
    return poll(&entry, 1, 0) == 1 && (entry.revents & POLLIN);
}

DWORD ReturnAtOnce(void*) { return 0; }

TEST(KernelHandles, BadHandlesFailWithInvalidHandle)
{
    HANDLE closed = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    ASSERT_NE(closed, nullptr);
    ASSERT_TRUE(CloseHandle(closed));

    for (HANDLE bad : {HANDLE{}, INVALID_HANDLE_VALUE, closed, reinterpret_cast<HANDLE>(0x7777)}) {
        SetLastError(0);
        EXPECT_FALSE(SetEvent(bad));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        SetLastError(0);
        EXPECT_FALSE(ResetEvent(bad));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        SetLastError(0);
        EXPECT_EQ(WaitForSingleObject(bad, 0), WAIT_FAILED);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        SetLastError(0);
        EXPECT_FALSE(CloseHandle(bad));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        EXPECT_EQ(GetHandleFd(bad), -1);
    }
}

TEST(KernelHandles, EventCallsRefuseOtherKindsOfObject)
{
    HANDLE thread = CreateThread(nullptr, 0, &ReturnAtOnce, nullptr, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    SetLastError(0);
    EXPECT_FALSE(SetEvent(thread));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(thread));
}

TEST(KernelEvents, ManualResetStaysSignalledUntilReset)
{
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    ASSERT_TRUE(SetEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    ASSERT_TRUE(ResetEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    CloseHandle(event);
}

TEST(KernelEvents, AutoResetIsTakenByOneWaitHoweverOftenItWasSet)
{
    HANDLE event = CreateEventA(nullptr, FALSE, TRUE, nullptr);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    SetEvent(event);
    SetEvent(event);
    SetEvent(event);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    CloseHandle(event);
}

TEST(KernelEvents, AutoResetWakesExactlyOneOfTwoWaiters)
{
    HANDLE wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(wake && stop);
    std::atomic<int> wakes{0};
    std::atomic<int> waiting{0};
    std::atomic<bool> failed{false};
    auto waiter = [&] {
        const HANDLE both[] = {wake, stop};
        ++waiting;
        for (;;) {
            const DWORD result = WaitForMultipleObjects(2, both, FALSE, INFINITE);
            if (result == WAIT_OBJECT_0)
                ++wakes;
            else if (result != WAIT_OBJECT_0 + 1)
                failed = true;
            if (result != WAIT_OBJECT_0)
                return;
        }
    };
    std::thread first(waiter);
    std::thread second(waiter);
    ASSERT_TRUE(WaitUntil([&] { return waiting == 2; }));

    constexpr int kRounds = 200;
    for (int round = 1; round <= kRounds; ++round) {
        SetEvent(wake);
        ASSERT_TRUE(WaitUntil([&] { return wakes >= round; })) << "round " << round;
    }
    SetEvent(stop);
    first.join();
    second.join();
    EXPECT_EQ(wakes, kRounds);
    EXPECT_FALSE(failed);
    CloseHandle(wake);
    CloseHandle(stop);
}

TEST(KernelWaits, TheLowestSignalledIndexWinsAndOnlyItsSignalIsTaken)
{
    HANDLE manual = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE autoReset = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HANDLE other = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(manual && autoReset && other);
    const HANDLE handles[] = {other, manual, autoReset};

    SetEvent(autoReset);
    EXPECT_EQ(WaitForMultipleObjects(3, handles, FALSE, 0), WAIT_OBJECT_0 + 2);
    EXPECT_EQ(WaitForSingleObject(autoReset, 0), WAIT_TIMEOUT);

    SetEvent(autoReset);
    SetEvent(manual);
    EXPECT_EQ(WaitForMultipleObjects(3, handles, FALSE, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForSingleObject(autoReset, 0), WAIT_OBJECT_0);

    SetEvent(other);
    EXPECT_EQ(WaitForMultipleObjects(3, handles, FALSE, 0), WAIT_OBJECT_0);
    for (HANDLE handle : handles)
        CloseHandle(handle);
}

TEST(KernelWaits, TimeOutsLastAboutTheirTime)
{
    HANDLE a = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE b = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    ASSERT_TRUE(a && b);
    const HANDLE both[] = {a, b};

    auto start = Clock::now();
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 120), WAIT_TIMEOUT);
    EXPECT_GE(ElapsedMs(start), 119);
    EXPECT_LT(ElapsedMs(start), 3000);

    start = Clock::now();
    EXPECT_EQ(WaitForSingleObject(a, 60), WAIT_TIMEOUT);
    EXPECT_GE(ElapsedMs(start), 59);
    EXPECT_LT(ElapsedMs(start), 3000);
    CloseHandle(a);
    CloseHandle(b);
}

TEST(KernelWaits, BadArgumentsFail)
{
    HANDLE event = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    ASSERT_NE(event, nullptr);
    std::vector<HANDLE> many(MAXIMUM_WAIT_OBJECTS + 1, event);

    SetLastError(0);
    EXPECT_EQ(WaitForMultipleObjects(0, many.data(), FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    SetLastError(0);
    EXPECT_EQ(WaitForMultipleObjects(MAXIMUM_WAIT_OBJECTS + 1, many.data(), FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    SetLastError(0);
    EXPECT_EQ(WaitForMultipleObjects(1, nullptr, FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    SetLastError(0);
    EXPECT_EQ(WaitForMultipleObjects(1, many.data(), TRUE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    EXPECT_EQ(WaitForMultipleObjects(MAXIMUM_WAIT_OBJECTS, many.data(), FALSE, 0), WAIT_OBJECT_0);

    many[1] = reinterpret_cast<HANDLE>(0x7777);
    SetLastError(0);
    EXPECT_EQ(WaitForMultipleObjects(2, many.data(), FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    CloseHandle(event);
}

TEST(KernelWaits, ClosingAHandleLeavesAWaitInProgressIntact)
{
    // Repeated, so that the close lands both before and during the wait.
    for (int round = 0; round < 20; ++round) {
        HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        ASSERT_TRUE(event && stop);
        std::atomic<bool> started{false};
        std::atomic<DWORD> result{WAIT_TIMEOUT};
        std::thread waiter([&] {
            const HANDLE both[] = {event, stop};
            started = true;
            result = WaitForMultipleObjects(2, both, FALSE, 20000);
        });
        ASSERT_TRUE(WaitUntil([&] { return started.load(); }));
        EXPECT_TRUE(CloseHandle(event));
        EXPECT_FALSE(SetEvent(event));
        SetEvent(stop);
        waiter.join();
        // Either the wait kept its object until the stop event, or it began after
        // the close and found the handle gone.
        EXPECT_TRUE(result == WAIT_OBJECT_0 + 1 || result == WAIT_FAILED) << result;
        CloseHandle(stop);
    }
}

TEST(KernelWaits, TheHandleDescriptorIsReadableWhileSignalled)
{
    HANDLE manual = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE autoReset = CreateEventA(nullptr, FALSE, TRUE, nullptr);
    ASSERT_TRUE(manual && autoReset);
    const int manualFd = GetHandleFd(manual);
    const int autoFd = GetHandleFd(autoReset);
    ASSERT_GE(manualFd, 0);
    ASSERT_GE(autoFd, 0);

    EXPECT_FALSE(PollsReadable(manualFd));
    SetEvent(manual);
    EXPECT_TRUE(PollsReadable(manualFd));
    ResetEvent(manual);
    EXPECT_FALSE(PollsReadable(manualFd));

    // Polling leaves the signal for the wait that follows it.
    EXPECT_TRUE(PollsReadable(autoFd));
    EXPECT_TRUE(PollsReadable(autoFd));
    EXPECT_EQ(WaitForSingleObject(autoReset, 0), WAIT_OBJECT_0);
    EXPECT_FALSE(PollsReadable(autoFd));
    CloseHandle(manual);
    CloseHandle(autoReset);
}

TEST(KernelHandles, ClosedObjectsGiveTheirDescriptorsBack)
{
    const size_t before = OpenDescriptors();
    for (int i = 0; i < 50; ++i) {
        HANDLE event = CreateEventA(nullptr, i % 2, FALSE, nullptr);
        HANDLE thread = CreateThread(nullptr, 0, &ReturnAtOnce, nullptr, 0, nullptr);
        ASSERT_TRUE(event && thread);
        ASSERT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
        CloseHandle(event);
        CloseHandle(thread);
    }
    // A thread lets go of its object just after its handle is signalled.
    EXPECT_TRUE(WaitUntil([&] { return OpenDescriptors() <= before; })) << OpenDescriptors() << " > " << before;
}

}  // namespace
