// Unloading in a host process: nothing of the module left behind, also while a
// worker is stuck in a snap-in, and the host goes on (the card among it).
#include <dlfcn.h>
#include <time.h>

#include <atomic>
#include <thread>

#include "ModuleFixture.h"

namespace rz::test::host {
namespace {

using rz::test::harness::ThreadCount;
using rz::test::harness::WaitUntil;
using std::chrono::steady_clock;

// Loading reports the processor once (the core suite owns the wording) and starts
// the workers; a post made before the unload still arrives, as the host outlives it.
class UnloadTest : public ModuleTest, public ::testing::WithParamInterface<bool> {};

TEST_P(UnloadTest, LoadingStartsTheWorkersAndUnloadingReleasesEverything)
{
    const bool bound = GetParam();
    // The unload waits on this thread's queue descriptor, which stays the thread's.
    ASSERT_GE(GetMessageQueueFd(), 0);
    const int descriptors = rz::test::harness::OpenDescriptorCount();
    const int threads = ThreadCount();
    Load();
    EXPECT_EQ(debug.Count("Processor\r\n"), 1);
    EXPECT_EQ(api.GetDGVersion(), 0xEB930003u);
    EXPECT_TRUE(WaitUntil([&] { return ThreadCount() >= threads + 2; }));
    if (bound) {
        api.InitDG(host.Handle());
        api.DGSetXmit(1);
    }
    module.reset();
    EXPECT_TRUE(WaitUntil([&] { return ThreadCount() == threads; }));
    EXPECT_EQ(rz::test::harness::OpenDescriptorCount(), descriptors);
    host.Drain();
    EXPECT_EQ(host.Messages(host.msgXmitRecv).size(), bound ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(HostWindow, UnloadTest, ::testing::Bool());

// What becomes of the stuck worker: cancelled while the unload waits, ended when
// its call returns after the unload, or left in the snap-in for good.
enum class Fate { EndsAtUnload, EndsOnReturn, StaysStuck };

struct StuckCase {
    const char* snapin;
    uint64_t mask;
    int soundMode;
    const char* warning;
    Fate fate;
};

void PrintTo(const StuckCase& c, std::ostream* out) { *out << c.snapin; }

double ThreadCpuSeconds()
{
    timespec used{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &used);
    return static_cast<double>(used.tv_sec) + static_cast<double>(used.tv_nsec) * 1e-9;
}

class UnloadStuckTest : public RunningTest {
protected:
    // Waits until the mode's codec call is out. The test holds no load of the
    // snap-in, so the record it reads lives exactly as long as the library.
    void StartStuck(const char* snapin, uint64_t mask, int soundMode)
    {
        Load({snapin, "DGcodecwide.so"}, "", "loopback");
        api.InitDG(host.Handle());
        Start(mask, soundMode);
        if (soundMode & kTransmit)
            api.SendDGCharW(u'k');
        void* library = dlopen(PathOf(snapin).c_str(), RTLD_NOW | RTLD_NOLOAD);
        ASSERT_NE(library, nullptr);
        const CodecLog* codec = reinterpret_cast<PFN_CodecCalls>(dlsym(library, "CodecCalls"))();
        dlclose(library);
        ASSERT_TRUE(WaitUntil([&] { return codec->decodeSizes.count + codec->encodeBatches.count > 0; }, 10s));
    }

    bool IsLoaded(const char* snapin) const
    {
        void* library = dlopen(PathOf(snapin).c_str(), RTLD_LAZY | RTLD_NOLOAD);
        if (library)
            dlclose(library);
        return library != nullptr;
    }

    // The host's next piece of work: the module again, a character round the card.
    void WorkAgain()
    {
        LoadModule();
        api.InitDG(host.Handle());
        Start(1, kTransmit | kReceive);
        const size_t before = Chars().size();
        api.SendDGCharW(u'k');
        ASSERT_TRUE(host.PumpUntil([&] { return Chars().size() > before; }, 10s));
        EXPECT_EQ(Chars().back(), u'k');
        module->Unload();
    }
};

class StuckWorkerTest : public UnloadStuckTest, public ::testing::WithParamInterface<StuckCase> {};

TEST_P(StuckWorkerTest, UnloadEndsInTimeAndTheHostGoesOn)
{
    const StuckCase& c = GetParam();
    const int threads = ThreadCount();
    StartStuck(c.snapin, c.mask, c.soundMode);
    ASSERT_FALSE(HasFatalFailure());
    const auto start = steady_clock::now();
    module->Unload();
    EXPECT_LE(steady_clock::now() - start, 2500ms);
    EXPECT_EQ(debug.Count(c.warning), 1);
    // A call still out keeps its library loaded.
    if (c.fate != Fate::EndsAtUnload) {
        EXPECT_TRUE(IsLoaded(c.snapin));
    }

    WorkAgain();
    const int left = c.fate == Fate::StaysStuck ? 1 : 0;
    EXPECT_TRUE(WaitUntil([&] { return ThreadCount() == threads + left; }, 10s))
        << ThreadCount() << " threads, " << threads + left << " expected";
    EXPECT_EQ(IsLoaded(c.snapin), left == 1);
}

constexpr char kReceiveWarning[] = "RUZada Warning: Receive Thread did not exit...\n";
constexpr char kSendWarning[] = "RUZada Warning: Send Thread did not exit...\n";

INSTANTIATE_TEST_SUITE_P(
    Stalls, StuckWorkerTest,
    ::testing::Values(StuckCase{"DGcodecsleeps.so", 128, kReceive, kReceiveWarning, Fate::EndsAtUnload},
                      StuckCase{"DGcodecspins.so", 8192, kReceive, kReceiveWarning, Fate::StaysStuck},
                      StuckCase{"DGcodecslow.so", 16384, kReceive, kReceiveWarning, Fate::EndsOnReturn},
                      StuckCase{"DGcodecspinsend.so", 32768, kTransmit, kSendWarning, Fate::StaysStuck}));

// The unload waits on the thread's messages and the workers together: a host
// thread whose first use of the host link is a send to the unloading thread is
// answered during the wait, and the wait itself takes next to no processor time.
TEST_F(UnloadStuckTest, AFreshThreadsSendIsAnsweredDuringTheWaitWhichDoesNotSpin)
{
    StartStuck("DGcodecsleeps.so", 128, kReceive);
    ASSERT_FALSE(HasFatalFailure());
    constexpr UINT kProbe = WM_USER + 1;
    const auto start = steady_clock::now();
    std::atomic<steady_clock::time_point> answered{};
    std::thread sender([&] {
        std::this_thread::sleep_until(start + 500ms);
        SendMessageA(host.Handle(), kProbe, 0, 0);
        answered = steady_clock::now();
    });
    const double cpuBefore = ThreadCpuSeconds();
    module->Unload();
    const double cpu = ThreadCpuSeconds() - cpuBefore;
    const auto end = steady_clock::now();
    host.PumpUntil([&] { return answered.load() != steady_clock::time_point{}; }, 5s);
    sender.join();
    EXPECT_GE(end - start, 1900ms);
    EXPECT_EQ(host.Messages(kProbe).size(), 1u);
    EXPECT_LT(answered.load(), end - 500ms);
    EXPECT_LT(cpu, 0.3);
}

}  // namespace
}  // namespace rz::test::host
