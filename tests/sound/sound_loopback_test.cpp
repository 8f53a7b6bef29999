// The whole card on the loopback: a known signal comes back whole and in order,
// and once open, a card written in batches and read every 5 ms allocates nothing
// in any thread.
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <iterator>
#include <new>
#include <thread>

#include "SoundTestSupport.h"
#include "audio/Sound.h"

namespace {
std::atomic<bool> g_counting{false};
std::atomic<long> g_allocations{0};
}  // namespace

// Counted while armed; this binary's every allocation passes here.
void* operator new(std::size_t bytes)
{
    if (g_counting)
        ++g_allocations;
    if (void* block = std::malloc(bytes ? bytes : 1))
        return block;
    throw std::bad_alloc();
}
// The nothrow form too, so that every block the deletes below free came from malloc.
void* operator new(std::size_t bytes, const std::nothrow_t&) noexcept
{
    if (g_counting)
        ++g_allocations;
    return std::malloc(bytes ? bytes : 1);
}
// The compiler cannot see that the news above allocate with malloc.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }

namespace rz::test::sound {
namespace {

TEST(SoundAllocations, NothingIsAllocatedOnceTheCardIsOpen)
{
    CSound sound;
    ASSERT_TRUE(OpenOnLoopback(sound));
    const std::vector<int16_t> batch = Ramp(800);
    std::vector<short> received(4096);
    long samples = 0;
    // Half a second to settle, then a second and a half counted.
    const auto start = std::chrono::steady_clock::now();
    for (int pass = 0; pass < 400; ++pass) {
        if (pass == 100)
            g_counting = true;
        if (pass % 20 == 0) {
            EXPECT_EQ(sound.WriteOut(batch.data(), 800), 800);
        }
        samples += std::max(0, sound.ReadIn(received.data(), 4096));
        std::this_thread::sleep_until(start + pass * 5ms);
    }
    g_counting = false;
    EXPECT_EQ(g_allocations, 0);
    EXPECT_GT(samples, 8000);
    sound.CloseIn();
    sound.CloseOut();
}

// A player starved on a loaded machine lets the cable run dry, and capture fills
// the hole with silence: silence is all that may come between the samples. A
// reader starved for the whole capture ring overruns it; that try does not count.
TEST(SoundSignal, PlayedOnTheLoopbackItComesBackWholeAndInOrder)
{
    const std::vector<int16_t> signal = Ramp(20000);  // 2.5 s: more than the FIFO holds
    std::vector<int16_t> heard;
    bool overran = true;
    for (int attempt = 0; attempt < 3 && overran; ++attempt) {
        CSound sound;
        ASSERT_TRUE(OpenOnLoopback(sound));
        heard.clear();
        std::thread receive([&] {
            std::vector<short> buffer(4096);
            WaitUntil(
                [&] {
                    const int read = sound.ReadIn(buffer.data(), 4096);
                    std::copy_if(buffer.begin(), buffer.begin() + std::max(read, 0), std::back_inserter(heard),
                                 [](short sample) { return sample != 0; });
                    return heard.size() >= signal.size() || (!heard.empty() && heard.back() == signal.back());
                },
                30s);
        });
        EXPECT_EQ(sound.WriteOut(signal.data(), 20000), 20000);
        EXPECT_EQ(sound.WriteOut(signal.data(), -1), 0);
        receive.join();
        // An empty read reports an overrun whenever it happened.
        short none;
        sound.ReadIn(&none, 0);
        overran = sound.GetError() == kSoundInOverrun;
        EXPECT_TRUE(overran || sound.GetError() == 0) << sound.GetError();
    }
    EXPECT_FALSE(overran);
    EXPECT_EQ(heard, signal);
}

}  // namespace
}  // namespace rz::test::sound
