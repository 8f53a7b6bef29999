// Threads (exit codes, suspension, the attach gate, termination), critical
// sections and the clocks.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <ruzada/kernel.h>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr DWORD kLongWaitMs = 10000;
// How long a held thread is watched for not starting.
constexpr DWORD kHeldWatchMs = 200;

struct Probe {
    std::atomic<bool> ran{false};
    std::atomic<DWORD> threadId{0};
    std::atomic<bool> unwound{false};
    HANDLE event = nullptr;
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
    auto* probe = static_cast<Probe*>(parameter);
    UnwindWitness witness{probe};
    probe->ran = true;
    for (;;)
        Sleep(INFINITE);
}

DWORD WaitForever(void* parameter)
{
    auto* probe = static_cast<Probe*>(parameter);
    UnwindWitness witness{probe};
    probe->ran = true;
    WaitForSingleObject(probe->event, INFINITE);
    return 1;
}

template <class Condition>
bool WaitUntil(Condition condition)
{
    const auto until = Clock::now() + 10s;
    while (!condition()) {
        if (Clock::now() > until)
            return false;
        std::this_thread::yield();
    }
    return true;
}

DWORD ExitCodeOf(HANDLE thread)
{
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    return code;
}

TEST(KernelThreads, TheHandleIsSignalledWithTheExitCodeOnceTheRoutineReturns)
{
    Probe probe;
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, &Record, &probe, 0, &id);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(WaitForSingleObject(thread, kLongWaitMs), WAIT_OBJECT_0);
    EXPECT_TRUE(probe.ran);
    EXPECT_EQ(ExitCodeOf(thread), 42u);
    EXPECT_NE(id, 0u);
    EXPECT_EQ(probe.threadId, id);
    EXPECT_NE(id, GetCurrentThreadId());
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(thread));
}

TEST(KernelThreads, AThreadRunsWithAGivenStackSize)
{
    Probe probe;
    HANDLE thread = CreateThread(nullptr, 1, &Record, &probe, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(WaitForSingleObject(thread, kLongWaitMs), WAIT_OBJECT_0);
    EXPECT_EQ(ExitCodeOf(thread), 42u);
    CloseHandle(thread);
}

TEST(KernelThreads, ASuspendedThreadStartsWhenResumed)
{
    Probe probe;
    HANDLE thread = CreateThread(nullptr, 0, &Record, &probe, CREATE_SUSPENDED, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, kHeldWatchMs), WAIT_TIMEOUT);
    EXPECT_FALSE(probe.ran);
    EXPECT_EQ(ExitCodeOf(thread), STILL_ACTIVE);

    EXPECT_EQ(ResumeThread(thread), 1u);
    ASSERT_EQ(WaitForSingleObject(thread, kLongWaitMs), WAIT_OBJECT_0);
    EXPECT_TRUE(probe.ran);
    EXPECT_EQ(ResumeThread(thread), 0u);
    CloseHandle(thread);
}

TEST(KernelThreads, AThreadCreatedDuringAttachWaitsForTheGateToOpen)
{
    Probe probe;
    BeginModuleAttach();
    BeginModuleAttach();
    HANDLE thread = CreateThread(nullptr, 0, &Record, &probe, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, kHeldWatchMs), WAIT_TIMEOUT);
    EndModuleAttach();
    // The inner attach has ended; the outer one still holds the thread.
    EXPECT_EQ(WaitForSingleObject(thread, kHeldWatchMs), WAIT_TIMEOUT);
    EXPECT_FALSE(probe.ran);
    EndModuleAttach();
    ASSERT_EQ(WaitForSingleObject(thread, kLongWaitMs), WAIT_OBJECT_0);
    EXPECT_TRUE(probe.ran);
    CloseHandle(thread);

    // Once open, an unmatched End changes nothing: threads start at once.
    EndModuleAttach();
    Probe later;
    thread = CreateThread(nullptr, 0, &Record, &later, 0, nullptr);
    ASSERT_EQ(WaitForSingleObject(thread, kLongWaitMs), WAIT_OBJECT_0);
    EXPECT_TRUE(later.ran);
    CloseHandle(thread);
}

TEST(KernelThreads, ASuspendedThreadHeldAtTheGateNeedsBothToStart)
{
    Probe probe;
    BeginModuleAttach();
    HANDLE thread = CreateThread(nullptr, 0, &Record, &probe, CREATE_SUSPENDED, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(ResumeThread(thread), 1u);
    EXPECT_EQ(WaitForSingleObject(thread, kHeldWatchMs), WAIT_TIMEOUT);
    EndModuleAttach();
    ASSERT_EQ(WaitForSingleObject(thread, kLongWaitMs), WAIT_OBJECT_0);
    EXPECT_TRUE(probe.ran);
    CloseHandle(thread);
}

TEST(KernelThreads, TerminateEndsAThreadThatSleeps)
{
    Probe probe;
    HANDLE thread = CreateThread(nullptr, 0, &SleepForever, &probe, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return probe.ran.load(); }));
    EXPECT_TRUE(TerminateThread(thread, 7));
    ASSERT_EQ(WaitForSingleObject(thread, kLongWaitMs), WAIT_OBJECT_0);
    EXPECT_EQ(ExitCodeOf(thread), 7u);
    EXPECT_TRUE(probe.unwound);
    CloseHandle(thread);
}

TEST(KernelThreads, TerminateEndsAThreadThatWaits)
{
    Probe probe;
    probe.event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, &WaitForever, &probe, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return probe.ran.load(); }));
    EXPECT_TRUE(TerminateThread(thread, 9));
    // A second request changes nothing.
    EXPECT_TRUE(TerminateThread(thread, 10));
    ASSERT_EQ(WaitForSingleObject(thread, kLongWaitMs), WAIT_OBJECT_0);
    EXPECT_EQ(ExitCodeOf(thread), 9u);
    EXPECT_TRUE(probe.unwound);
    CloseHandle(thread);
    CloseHandle(probe.event);
}

TEST(KernelThreads, ATerminatedThreadThatHadNotStartedNeverRuns)
{
    Probe suspended;
    HANDLE first = CreateThread(nullptr, 0, &Record, &suspended, CREATE_SUSPENDED, nullptr);
    BeginModuleAttach();
    Probe held;
    HANDLE second = CreateThread(nullptr, 0, &Record, &held, 0, nullptr);
    ASSERT_TRUE(first && second);
    EXPECT_TRUE(TerminateThread(first, 3));
    EXPECT_TRUE(TerminateThread(second, 4));
    EXPECT_EQ(WaitForSingleObject(first, kLongWaitMs), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(second, kLongWaitMs), WAIT_OBJECT_0);
    EndModuleAttach();
    EXPECT_EQ(ExitCodeOf(first), 3u);
    EXPECT_EQ(ExitCodeOf(second), 4u);
    EXPECT_FALSE(suspended.ran);
    EXPECT_FALSE(held.ran);
    CloseHandle(first);
    CloseHandle(second);
}

TEST(KernelThreads, TerminatingAnEndedThreadKeepsItsExitCode)
{
    Probe probe;
    HANDLE thread = CreateThread(nullptr, 0, &Record, &probe, 0, nullptr);
    ASSERT_EQ(WaitForSingleObject(thread, kLongWaitMs), WAIT_OBJECT_0);
    EXPECT_TRUE(TerminateThread(thread, 5));
    EXPECT_EQ(ExitCodeOf(thread), 42u);
    CloseHandle(thread);
}

TEST(KernelThreads, ClosingTheHandleLetsTheThreadRunOn)
{
    Probe probe;
    probe.event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, &WaitForever, &probe, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_TRUE(CloseHandle(thread));
    ASSERT_TRUE(WaitUntil([&] { return probe.ran.load(); }));
    SetEvent(probe.event);
    EXPECT_TRUE(WaitUntil([&] { return probe.unwound.load(); }));
    CloseHandle(probe.event);
}

TEST(KernelThreads, BadArgumentsFail)
{
    SetLastError(0);
    EXPECT_EQ(CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD code = 0;
    SetLastError(0);
    EXPECT_FALSE(GetExitCodeThread(event, &code));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(ResumeThread(event), 0xFFFFFFFFu);
    EXPECT_FALSE(TerminateThread(event, 0));
    EXPECT_FALSE(TerminateThread(nullptr, 0));
    CloseHandle(event);
}

TEST(KernelThreads, ThreadIdsAreStableAndDistinct)
{
    const DWORD mine = GetCurrentThreadId();
    EXPECT_NE(mine, 0u);
    EXPECT_EQ(GetCurrentThreadId(), mine);
    std::atomic<DWORD> other{0};
    std::thread([&] { other = GetCurrentThreadId(); }).join();
    EXPECT_NE(other, 0u);
    EXPECT_NE(other, mine);
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
}

TEST(KernelCriticalSections, NullOrDeletedSectionsAreIgnored)
{
    InitializeCriticalSection(nullptr);
    EnterCriticalSection(nullptr);
    EXPECT_FALSE(TryEnterCriticalSection(nullptr));
    LeaveCriticalSection(nullptr);
    DeleteCriticalSection(nullptr);

    CRITICAL_SECTION section{};
    InitializeCriticalSection(&section);
    DeleteCriticalSection(&section);
    EnterCriticalSection(&section);
    EXPECT_FALSE(TryEnterCriticalSection(&section));
    LeaveCriticalSection(&section);
}

TEST(KernelClocks, SleepLastsAboutItsTime)
{
    const auto start = Clock::now();
    Sleep(50);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    EXPECT_GE(took, 50);
    EXPECT_LT(took, 3000);
}

TEST(KernelClocks, CountersAdvanceTogether)
{
    int64_t frequency = 0;
    ASSERT_TRUE(QueryPerformanceFrequency(&frequency));
    EXPECT_EQ(frequency, 1000000000);
    int64_t before = 0;
    int64_t after = 0;
    const DWORD tickBefore = GetTickCount();
    const uint64_t cyclesBefore = ReadCycleCounter();
    ASSERT_TRUE(QueryPerformanceCounter(&before));
    Sleep(30);
    ASSERT_TRUE(QueryPerformanceCounter(&after));
    const DWORD ticks = GetTickCount() - tickBefore;
    EXPECT_GT(ReadCycleCounter(), cyclesBefore);

    const int64_t countedMs = (after - before) / 1000000;
    EXPECT_GE(countedMs, 30);
    EXPECT_LT(countedMs, 3000);
    EXPECT_NEAR(static_cast<double>(ticks), static_cast<double>(countedMs), 50.0);

    EXPECT_FALSE(QueryPerformanceCounter(nullptr));
    EXPECT_FALSE(QueryPerformanceFrequency(nullptr));
}

}  // namespace
