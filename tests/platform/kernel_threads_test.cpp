// Threads (exit codes, suspension, the attach gate, termination), critical
// sections, events, waits and the handle table: signals taken exactly once,
// wait-any order, time-outs, bad and closed handles, and descriptors given back.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include <ruzada/outcall.h>

#include "PlatformTesting.h"

namespace {

using namespace rz::test::platform;

constexpr DWORD kLongWaitMs = 10000;
// How long a held thread is watched for not starting.
constexpr DWORD kHeldWatchMs = 200;

struct Probe {
    std::atomic<bool> ran{false};
    std::atomic<DWORD> threadId{0};
    std::atomic<bool> unwound{false};
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ~Probe() { CloseHandle(event); }
};

DWORD Record(void* parameter)
{
    auto* probe = static_cast<Probe*>(parameter);
    probe->threadId = GetCurrentThreadId();
    probe->ran = true;
    return 42;
}

// Notes, from a destructor, that its stack was unwound.
struct UnwindWitness {
    Probe* probe;
    ~UnwindWitness() { probe->unwound = true; }
};

DWORD SleepForever(void* parameter)
{
    UnwindWitness witness{static_cast<Probe*>(parameter)};
    witness.probe->ran = true;
    for (;;)
        Sleep(INFINITE);
}

DWORD WaitForever(void* parameter)
{
    UnwindWitness witness{static_cast<Probe*>(parameter)};
    witness.probe->ran = true;
    WaitForSingleObject(witness.probe->event, INFINITE);
    return 1;
}

DWORD ExitCodeOf(HANDLE thread)
{
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    return code;
}

// Waits for the thread to end and closes its handle; its exit code.
DWORD Finish(HANDLE thread)
{
    EXPECT_EQ(WaitForSingleObject(thread, kLongWaitMs), WAIT_OBJECT_0);
    const DWORD code = ExitCodeOf(thread);
    CloseHandle(thread);
    return code;
}

// A suspended thread starts when resumed, and its handle is signalled with the exit
// code once its routine returns; one created during attach starts when the
// outermost attach ends; one that is both, when both have happened. Terminated
// before it started, a thread never runs; terminated after it ended, it keeps its code.
TEST(KernelThreads, SuspendedAndAttachHeldThreadsStartOnlyWhenReleased)
{
    Probe suspended, plain, both, stopped, stoppedHeld;
    DWORD id = 0;
    HANDLE first = CreateThread(nullptr, 1, &Record, &suspended, CREATE_SUSPENDED, &id);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(WaitForSingleObject(first, kHeldWatchMs), WAIT_TIMEOUT);
    EXPECT_EQ(ExitCodeOf(first), STILL_ACTIVE);
    EXPECT_EQ(ResumeThread(first), 1u);
    ASSERT_EQ(WaitForSingleObject(first, kLongWaitMs), WAIT_OBJECT_0);
    EXPECT_EQ(ResumeThread(first), 0u);
    EXPECT_TRUE(TerminateThread(first, 5));
    EXPECT_EQ(Finish(first), 42u);
    EXPECT_TRUE(id != 0 && id != GetCurrentThreadId() && suspended.threadId == id) << id;

    HANDLE neverRuns = CreateThread(nullptr, 0, &Record, &stopped, CREATE_SUSPENDED, nullptr);
    BeginModuleAttach();
    BeginModuleAttach();
    first = CreateThread(nullptr, 0, &Record, &plain, 0, nullptr);
    HANDLE second = CreateThread(nullptr, 0, &Record, &both, CREATE_SUSPENDED, nullptr);
    HANDLE neverRunsHeld = CreateThread(nullptr, 0, &Record, &stoppedHeld, 0, nullptr);
    ASSERT_TRUE(first && second && neverRuns && neverRunsHeld);
    EXPECT_EQ(ResumeThread(second), 1u);
    EXPECT_EQ(WaitForSingleObject(first, kHeldWatchMs), WAIT_TIMEOUT);
    // Watched long enough to be waiting for their release, these must be woken to end.
    EXPECT_TRUE(TerminateThread(neverRuns, 3));
    EXPECT_TRUE(TerminateThread(neverRunsHeld, 4));
    EndModuleAttach();
    EXPECT_EQ(WaitForSingleObject(first, kHeldWatchMs), WAIT_TIMEOUT);
    EXPECT_FALSE(plain.ran || both.ran);
    EndModuleAttach();
    EXPECT_EQ(Finish(first), 42u);
    EXPECT_EQ(Finish(second), 42u);
    EXPECT_EQ(Finish(neverRuns), 3u);
    EXPECT_EQ(Finish(neverRunsHeld), 4u);
    EXPECT_FALSE(stopped.ran || stoppedHeld.ran);

    // Once open, an unmatched End changes nothing: threads start at once.
    EndModuleAttach();
    Probe later;
    EXPECT_EQ(Finish(CreateThread(nullptr, 0, &Record, &later, 0, nullptr)), 42u);
}

TEST(KernelThreads, TerminateEndsAThreadThatSleepsOrWaitsAndUnwindsIt)
{
    for (LPTHREAD_START_ROUTINE routine : {&SleepForever, &WaitForever}) {
        Probe probe;
        HANDLE thread = CreateThread(nullptr, 0, routine, &probe, 0, nullptr);
        ASSERT_NE(thread, nullptr);
        ASSERT_TRUE(WaitUntil([&] { return probe.ran.load(); }));
        EXPECT_TRUE(TerminateThread(thread, 9));
        EXPECT_TRUE(TerminateThread(thread, 10)) << "a second request changes nothing";
        EXPECT_EQ(Finish(thread), 9u);
        EXPECT_TRUE(probe.unwound);
    }
}

Probe* g_callee = nullptr;

// A callee that waits until the probe's event is set, or its thread is terminated.
int CalleeWaits(int16_t*, int)
{
    g_callee->ran = true;
    WaitForSingleObject(g_callee->event, INFINITE);
    return 1;
}

DWORD CallsOut(void* parameter)
{
    UnwindWitness witness{static_cast<Probe*>(parameter)};
    return static_cast<DWORD>(CallOutSamples(&CalleeWaits, nullptr, 0));
}

// Whether the call comes back or unwinds, a thread whose call out was given up
// ends there, with the exit code TerminateThread gave it (0 without one): its
// routine's frames are neither returned to nor unwound.
TEST(KernelThreads, AGivenUpCallOutEndsItsThreadWithoutGoingBackToItsCaller)
{
    for (const bool terminate : {false, true}) {
        Probe probe;
        g_callee = &probe;
        HANDLE thread = CreateThread(nullptr, 0, &CallsOut, &probe, 0, nullptr);
        ASSERT_NE(thread, nullptr);
        ASSERT_TRUE(WaitUntil([&] { return probe.ran.load(); }));
        EXPECT_TRUE(AbandonOutCall(thread));
        EXPECT_FALSE(AbandonOutCall(thread)) << "given up once";
        if (terminate)
            TerminateThread(thread, 6);
        else
            SetEvent(probe.event);
        EXPECT_EQ(Finish(thread), terminate ? 6u : 0u);
        EXPECT_FALSE(probe.unwound);
    }
    Probe own;
    HANDLE thread = CreateThread(nullptr, 0, &WaitForever, &own, 0, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return own.ran.load(); }));
    EXPECT_FALSE(AbandonOutCall(thread)) << "in its own code";
    SetEvent(own.event);
    ASSERT_EQ(WaitForSingleObject(thread, kLongWaitMs), WAIT_OBJECT_0);
    EXPECT_FALSE(AbandonOutCall(thread)) << "ended";
    EXPECT_EQ(Finish(thread), 1u);
    EXPECT_FALSE(AbandonOutCall(thread)) << "closed";

    // A closed handle lets its thread run on.
    Probe unwatched;
    EXPECT_TRUE(CloseHandle(CreateThread(nullptr, 0, &WaitForever, &unwatched, 0, nullptr)));
    SetEvent(unwatched.event);
    EXPECT_TRUE(WaitUntil([&] { return unwatched.unwound.load(); }));
}

TEST(KernelCriticalSections, AreReentrantAndExclusive)
{
    CRITICAL_SECTION section{};
    InitializeCriticalSection(&section);
    EnterCriticalSection(&section);
    EXPECT_TRUE(TryEnterCriticalSection(&section));
    auto otherThreadGetsIn = [&] {
        std::atomic<bool> entered{false};
        std::thread([&] {
            entered = TryEnterCriticalSection(&section);
            if (entered)
                LeaveCriticalSection(&section);
        }).join();
        return entered.load();
    };
    EXPECT_FALSE(otherThreadGetsIn());
    LeaveCriticalSection(&section);
    EXPECT_FALSE(otherThreadGetsIn());
    LeaveCriticalSection(&section);
    EXPECT_TRUE(otherThreadGetsIn());
    DeleteCriticalSection(&section);
    EXPECT_EQ(section.impl, nullptr);
    // A deleted or null section is ignored.
    for (CRITICAL_SECTION* ignored : {&section, static_cast<CRITICAL_SECTION*>(nullptr)}) {
        EnterCriticalSection(ignored);
        EXPECT_FALSE(TryEnterCriticalSection(ignored));
        LeaveCriticalSection(ignored);
    }
    InitializeCriticalSection(nullptr);
    DeleteCriticalSection(nullptr);
}

DWORD ReturnAtOnce(void*) { return 0; }

// Bad and closed handles, objects of the wrong kind and bad wait arguments all
// get their fixed failure values.
TEST(KernelHandles, BadHandlesOtherKindsOfObjectAndBadWaitArgumentsAreRefused)
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
    HANDLE event = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    ASSERT_TRUE(thread && event);
    DWORD code = 0;
    EXPECT_EQ(Attempt([&] { return SetEvent(thread); }), refused);
    EXPECT_EQ(Attempt([&] { return GetExitCodeThread(event, &code); }), refused);
    EXPECT_EQ(Attempt([&] { return TerminateThread(event, 0); }), refused);
    EXPECT_EQ(Attempt([] { return CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr); }),
              (Outcome{0, ERROR_INVALID_PARAMETER}));

    std::vector<HANDLE> many(MAXIMUM_WAIT_OBJECTS + 1, event);
    const auto wait = [&](DWORD count, const HANDLE* handles, BOOL all) {
        return Attempt([&] { return WaitForMultipleObjects(count, handles, all, 0); });
    };
    EXPECT_EQ(wait(MAXIMUM_WAIT_OBJECTS, many.data(), FALSE), (Outcome{WAIT_OBJECT_0, 0}));
    const Outcome badWait{WAIT_FAILED, ERROR_INVALID_PARAMETER};
    EXPECT_EQ(wait(0, many.data(), FALSE), badWait);
    EXPECT_EQ(wait(MAXIMUM_WAIT_OBJECTS + 1, many.data(), FALSE), badWait);
    EXPECT_EQ(wait(1, nullptr, FALSE), badWait);
    EXPECT_EQ(wait(1, many.data(), TRUE), (Outcome{WAIT_FAILED, ERROR_NOT_SUPPORTED}));
    many[1] = reinterpret_cast<HANDLE>(0x7777);
    EXPECT_EQ(wait(2, many.data(), FALSE), (Outcome{WAIT_FAILED, ERROR_INVALID_HANDLE}));
    EXPECT_EQ(WaitForSingleObject(thread, kLongWaitMs), WAIT_OBJECT_0);
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
        ASSERT_EQ(WaitForSingleObject(thread, kLongWaitMs), WAIT_OBJECT_0);
        CloseHandle(event);
        CloseHandle(thread);
    }
    // A thread lets go of its object just after its handle is signalled.
    EXPECT_TRUE(WaitUntil([&] { return OpenDescriptorCount() <= before; })) << OpenDescriptorCount() << " > " << before;
}

}  // namespace
