// Events, waits and the handle table: signals taken exactly once, wait-any order,
// time-outs, bad and closed handles, and descriptors given back.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "PlatformTesting.h"

namespace {

using namespace rz::test::platform;

DWORD ReturnAtOnce(void*) { return 0; }

TEST(KernelHandles, BadHandlesAndOtherKindsOfObjectAreRefused)
{
    HANDLE closed = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    ASSERT_TRUE(CloseHandle(closed));
    const Outcome refused{FALSE, ERROR_INVALID_HANDLE};
    for (HANDLE bad : {HANDLE{}, INVALID_HANDLE_VALUE, closed, reinterpret_cast<HANDLE>(0x7777)}) {
        EXPECT_EQ(Attempt([&] { return SetEvent(bad); }), refused);
        EXPECT_EQ(Attempt([&] { return ResetEvent(bad); }), refused);
        EXPECT_EQ(Attempt([&] { return WaitForSingleObject(bad, 0); }), (Outcome{WAIT_FAILED, ERROR_INVALID_HANDLE}));
        EXPECT_EQ(Attempt([&] { return CloseHandle(bad); }), refused);
        EXPECT_EQ(GetHandleFd(bad), -1);
    }

    HANDLE thread = CreateThread(nullptr, 0, &ReturnAtOnce, nullptr, 0, nullptr);
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(thread && event);
    DWORD code = 0;
    EXPECT_EQ(Attempt([&] { return SetEvent(thread); }), refused);
    EXPECT_EQ(Attempt([&] { return GetExitCodeThread(event, &code); }), refused);
    EXPECT_EQ(Attempt([&] { return TerminateThread(event, 0); }), refused);
    EXPECT_EQ(Attempt([] { return CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr); }),
              (Outcome{0, ERROR_INVALID_PARAMETER}));
    EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(thread));
    EXPECT_TRUE(CloseHandle(event));
}

// Each set wakes one waiter: a second wake-up would run the count past the rounds.
TEST(KernelEvents, AutoResetWakesExactlyOneOfTwoWaiters)
{
    HANDLE wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(wake && stop);
    std::atomic<int> wakes{0}, waiting{0}, stopped{0};
    auto waiter = [&] {
        const HANDLE both[] = {wake, stop};
        ++waiting;
        DWORD result;
        while ((result = WaitForMultipleObjects(2, both, FALSE, INFINITE)) == WAIT_OBJECT_0)
            ++wakes;
        stopped += result == WAIT_OBJECT_0 + 1;
    };
    std::thread first(waiter), second(waiter);
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
    EXPECT_EQ(stopped, 2);
    CloseHandle(wake);
    CloseHandle(stop);
}

// An auto-reset event is taken by one wait however often it was set; a manual
// one stays signalled until reset.
TEST(KernelWaits, TheLowestSignalledIndexWinsAndOnlyItsSignalIsTaken)
{
    HANDLE other = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE manual = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE autoReset = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    ASSERT_TRUE(manual && autoReset && other);
    const HANDLE handles[] = {other, manual, autoReset};
    for (int i = 0; i < 3; ++i)
        SetEvent(autoReset);
    EXPECT_EQ(WaitForMultipleObjects(3, handles, FALSE, 0), WAIT_OBJECT_0 + 2);
    EXPECT_EQ(WaitForSingleObject(autoReset, 0), WAIT_TIMEOUT);
    SetEvent(autoReset);
    SetEvent(manual);
    EXPECT_EQ(WaitForMultipleObjects(3, handles, FALSE, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(autoReset, 0), WAIT_OBJECT_0);
    SetEvent(other);
    EXPECT_EQ(WaitForMultipleObjects(3, handles, FALSE, 0), WAIT_OBJECT_0);
    ResetEvent(other);
    ResetEvent(manual);
    const auto start = Clock::now();
    EXPECT_EQ(WaitForMultipleObjects(3, handles, FALSE, 120), WAIT_TIMEOUT);
    EXPECT_GE(Clock::now() - start, 119ms);
    EXPECT_LT(Clock::now() - start, 3s);
    for (HANDLE handle : handles)
        CloseHandle(handle);
}

TEST(KernelWaits, BadArgumentsFail)
{
    HANDLE event = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    ASSERT_NE(event, nullptr);
    std::vector<HANDLE> many(MAXIMUM_WAIT_OBJECTS + 1, event);
    const auto wait = [&](DWORD count, const HANDLE* handles, BOOL all) {
        return Attempt([&] { return WaitForMultipleObjects(count, handles, all, 0); }).error;
    };
    EXPECT_EQ(wait(0, many.data(), FALSE), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(wait(MAXIMUM_WAIT_OBJECTS + 1, many.data(), FALSE), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(wait(1, nullptr, FALSE), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(wait(1, many.data(), TRUE), ERROR_NOT_SUPPORTED);
    EXPECT_EQ(WaitForMultipleObjects(MAXIMUM_WAIT_OBJECTS, many.data(), FALSE, 0), WAIT_OBJECT_0);
    many[1] = reinterpret_cast<HANDLE>(0x7777);
    EXPECT_EQ(wait(2, many.data(), FALSE), ERROR_INVALID_HANDLE);
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

TEST(KernelHandles, ClosedObjectsGiveTheirDescriptorsBack)
{
    const int before = OpenDescriptorCount();
    for (int i = 0; i < 50; ++i) {
        HANDLE event = CreateEventA(nullptr, i % 2, FALSE, nullptr);
        HANDLE thread = CreateThread(nullptr, 0, &ReturnAtOnce, nullptr, 0, nullptr);
        ASSERT_TRUE(event && thread);
        ASSERT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
        CloseHandle(event);
        CloseHandle(thread);
    }
    // A thread lets go of its object just after its handle is signalled.
    EXPECT_TRUE(WaitUntil([&] { return OpenDescriptorCount() <= before; })) << OpenDescriptorCount() << " > " << before;
}

}  // namespace
