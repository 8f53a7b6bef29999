// Nothing is allocated after open: a card running both ways on the loopback,
// written in batches and read every 5 ms, allocates nothing in any thread.
#include <atomic>
#include <cstdlib>
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

}  // namespace
}  // namespace rz::test::sound
