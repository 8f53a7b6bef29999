// The byte FIFO: growth, the front operations, bad arguments, and a stream
// between two threads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdint>
#include <deque>
#include <new>
#include <random>
#include <thread>
#include <vector>

#include "util/SerialFIFO.h"

namespace {

// A pattern that does not repeat every 256 bytes, so that moved blocks show.
unsigned char PatternByte(int64_t index) { return static_cast<unsigned char>(index * 131 ^ (index >> 9)); }

std::vector<unsigned char> Pattern(int64_t first, int count)
{
    std::vector<unsigned char> bytes(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        bytes[static_cast<size_t>(i)] = PatternByte(first + i);
    return bytes;
}

std::vector<unsigned char> Drain(CSerialFIFO& fifo)
{
    std::vector<unsigned char> bytes(static_cast<size_t>(fifo.size()));
    const int taken = fifo.read(bytes.data(), static_cast<int>(bytes.size()));
    bytes.resize(static_cast<size_t>(taken));
    return bytes;
}

TEST(SerialFifoGrowth, GrowsWhenTheDataWouldReachTheCapacity)
{
    CSerialFIFO fifo;
    EXPECT_EQ(fifo.capacity(), 256);
    const std::vector<unsigned char> bytes = Pattern(0, 256);
    EXPECT_EQ(fifo.write(bytes.data(), 250), 250);
    EXPECT_EQ(fifo.write(bytes.data() + 250, 5), 255);
    EXPECT_EQ(fifo.capacity(), 256);
    // A byte pushed in front at capacity less one grows the block first.
    fifo.push_front(0xC4);
    EXPECT_EQ(fifo.capacity(), 512);
    std::vector<unsigned char> expected{0xC4};
    expected.insert(expected.end(), bytes.begin(), bytes.begin() + 255);
    EXPECT_EQ(Drain(fifo), expected);
    EXPECT_EQ(fifo.write(bytes.data(), 256), 256);
    EXPECT_EQ(fifo.capacity(), 512);
}

TEST(SerialFifoGrowth, ResetAndEmptyKeepTheBlockAndResetGrowsOnlyBeyondIt)
{
    CSerialFIFO fifo;
    const std::vector<unsigned char> bytes = Pattern(0, 600);
    fifo.write(bytes.data(), 40);
    fifo.reset(100);
    EXPECT_EQ(fifo.size(), 0);
    EXPECT_EQ(fifo.capacity(), 256);
    fifo.write(bytes.data(), 40);
    fifo.reset(300);
    EXPECT_EQ(fifo.size(), 0);
    EXPECT_EQ(fifo.capacity(), 768);
    fifo.write(bytes.data(), 600);
    fifo.empty();
    EXPECT_EQ(fifo.size(), 0);
    EXPECT_EQ(fifo.capacity(), 768);
    unsigned char out[4];
    EXPECT_EQ(fifo.read(out, 4), 0);
}

TEST(SerialFifoGrowth, ImpossibleGrowthThrowsAndLeavesTheFifoAsItWas)
{
    CSerialFIFO fifo;
    const std::vector<unsigned char> bytes = Pattern(0, 10);
    fifo.write(bytes.data(), 10);
    EXPECT_THROW(fifo.write(bytes.data(), INT_MAX), std::bad_alloc);
    EXPECT_THROW(fifo.reset(INT_MAX), std::bad_alloc);
    EXPECT_EQ(fifo.capacity(), 256);
    EXPECT_EQ(Drain(fifo), bytes);
}

// Mixed writes, reads, peeks, discards and front insertions of uneven sizes
// against a plain queue: every move of the remainder overlaps its source.
TEST(SerialFifoFront, UnevenTrafficMatchesAPlainQueue)
{
    CSerialFIFO fifo;
    std::deque<unsigned char> model;
    std::mt19937 random(20240601);
    int64_t written = 0;
    for (int step = 0; step < 3000; ++step) {
        const int n = static_cast<int>(random() % 700) + 1;
        std::vector<unsigned char> out(static_cast<size_t>(n));
        switch (random() % 5) {
            case 0:
            case 1: {
                const std::vector<unsigned char> bytes = Pattern(written, n);
                written += n;
                ASSERT_EQ(fifo.write(bytes.data(), n), static_cast<int>(model.size()) + n);
                model.insert(model.end(), bytes.begin(), bytes.end());
                break;
            }
            case 2: {
                const int taken = fifo.read(out.data(), n);
                ASSERT_EQ(taken, std::min<int>(n, static_cast<int>(model.size())));
                ASSERT_TRUE(std::equal(out.begin(), out.begin() + taken, model.begin()));
                model.erase(model.begin(), model.begin() + taken);
                break;
            }
            case 3: {
                const int dropped = fifo.discard(n);
                ASSERT_EQ(dropped, std::min<int>(n, static_cast<int>(model.size())));
                model.erase(model.begin(), model.begin() + dropped);
                break;
            }
            case 4: {
                const unsigned char front = static_cast<unsigned char>(step);
                fifo.push_front(front);
                model.push_front(front);
                const int copied = fifo.peek(out.data(), n);
                ASSERT_EQ(copied, std::min<int>(n, static_cast<int>(model.size())));
                ASSERT_TRUE(std::equal(out.begin(), out.begin() + copied, model.begin()));
                break;
            }
        }
        ASSERT_EQ(fifo.size(), static_cast<int>(model.size()));
        ASSERT_LT(fifo.size(), fifo.capacity());
    }
    EXPECT_EQ(Drain(fifo), std::vector<unsigned char>(model.begin(), model.end()));
}

TEST(SerialFifoArguments, NullBuffersAndCountsBelowOneChangeNothing)
{
    CSerialFIFO fifo;
    const std::vector<unsigned char> bytes = Pattern(0, 12);
    fifo.write(bytes.data(), 12);
    unsigned char out[8];
    EXPECT_EQ(fifo.write(nullptr, 5) + fifo.read(nullptr, 5) + fifo.peek(nullptr, 5), 0);
    for (const int n : {0, -1, INT_MIN})
        EXPECT_EQ(fifo.write(bytes.data(), n) + fifo.read(out, n) + fifo.peek(out, n) + fifo.discard(n), 0) << n;
    fifo.reset(-5);
    EXPECT_EQ(fifo.capacity(), 256);
    fifo.write(bytes.data(), 12);
    EXPECT_EQ(Drain(fifo), bytes);
}

TEST(SerialFifoAssignment, CopiesIntoItsOwnBlock)
{
    CSerialFIFO source;
    const std::vector<unsigned char> bytes = Pattern(0, 700);
    source.write(bytes.data(), 700);
    CSerialFIFO target;
    const unsigned char old[] = {1, 2, 3};
    target.write(old, 3);
    target = source;
    EXPECT_EQ(target.capacity(), 1024);
    // Each keeps its own bytes from now on.
    source.discard(100);
    EXPECT_EQ(Drain(source), std::vector<unsigned char>(bytes.begin() + 100, bytes.end()));
    EXPECT_EQ(Drain(target), bytes);

    CSerialFIFO& alias = target;
    target.write(old, 3);
    target = alias;
    EXPECT_EQ(Drain(target), std::vector<unsigned char>(old, old + 3));
}

// One producer and one consumer move a long stream in uneven chunks; the
// producer holds back while much is queued, as the module's producers do.
TEST(SerialFifoThreads, StreamArrivesWholeAndInOrder)
{
    constexpr int64_t kTotal = 8 << 20;
    constexpr int kHighWater = 64 << 10;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    CSerialFIFO fifo;
    std::atomic<bool> timedOut{false};

    std::thread producer([&] {
        std::mt19937 random(7);
        int64_t sent = 0;
        while (sent < kTotal && !timedOut) {
            if (fifo.size() > kHighWater) {
                if (std::chrono::steady_clock::now() > deadline)
                    timedOut = true;
                std::this_thread::yield();
                continue;
            }
            const int n = static_cast<int>(std::min<int64_t>(random() % 4096 + 1, kTotal - sent));
            const std::vector<unsigned char> bytes = Pattern(sent, n);
            fifo.write(bytes.data(), n);
            sent += n;
        }
    });

    std::mt19937 random(11);
    std::vector<unsigned char> out(4096);
    int64_t received = 0;
    int64_t firstWrong = -1;
    while (received < kTotal && !timedOut) {
        const int taken = fifo.read(out.data(), static_cast<int>(random() % 4096) + 1);
        for (int i = 0; i < taken && firstWrong < 0; ++i)
            if (out[static_cast<size_t>(i)] != PatternByte(received + i))
                firstWrong = received + i;
        received += taken;
        if (taken == 0) {
            if (std::chrono::steady_clock::now() > deadline)
                timedOut = true;
            std::this_thread::yield();
        }
    }
    producer.join();

    EXPECT_FALSE(timedOut);
    EXPECT_EQ(received, kTotal);
    EXPECT_EQ(firstWrong, -1);
    EXPECT_EQ(fifo.size(), 0);
}

}  // namespace
