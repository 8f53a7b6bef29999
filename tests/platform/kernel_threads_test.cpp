// Threads (exit codes, suspension, the attach gate, termination), critical
// sections and the clocks.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

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

}  // namespace
