// The byte FIFO: growth, traffic against a plain queue, bad arguments and copies.
// Streams between threads are the card's and the ports' tests, which move every
// sample and byte through it.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <deque>
#include <new>
#include <random>
#include <vector>

#include "util/SerialFIFO.h"

namespace {

using Bytes = std::vector<unsigned char>;

// A pattern that does not repeat every 256 bytes, so that moved blocks show.
unsigned char PatternByte(int64_t index) { return static_cast<unsigned char>(index * 131 ^ (index >> 9)); }

Bytes Pattern(int64_t first, int count)
{
    Bytes bytes(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        bytes[static_cast<size_t>(i)] = PatternByte(first + i);
    return bytes;
}

Bytes Drain(CSerialFIFO& fifo)
{
    Bytes bytes(static_cast<size_t>(fifo.size()));
    bytes.resize(static_cast<size_t>(fifo.read(bytes.data(), static_cast<int>(bytes.size()))));
    return bytes;
}

// Growth comes before the data would reach the capacity; reset keeps the block;
// bad arguments change nothing and impossible growth throws.
TEST(SerialFifo, GrowsBeforeTheDataWouldReachTheCapacityAndBadArgumentsChangeNothing)
{
    CSerialFIFO fifo;
    const Bytes bytes = Pattern(0, 600);
    EXPECT_EQ(fifo.write(bytes.data(), 250), 250);
    EXPECT_EQ(fifo.write(bytes.data() + 250, 5), 255);
    EXPECT_EQ(fifo.capacity(), 256);
    fifo.push_front(0xC4);
    EXPECT_EQ(fifo.capacity(), 512);
    Bytes expected{0xC4};
    expected.insert(expected.end(), bytes.begin(), bytes.begin() + 255);
    EXPECT_EQ(Drain(fifo), expected);

    fifo.write(bytes.data(), 40);
    fifo.reset(300);
    EXPECT_EQ(fifo.capacity(), 512);
    fifo.reset(600);
    EXPECT_EQ(fifo.size(), 0);
    EXPECT_EQ(fifo.capacity(), 1024);
    fifo.write(bytes.data(), 12);
    unsigned char out[8];
    EXPECT_EQ(fifo.write(nullptr, 5) + fifo.read(nullptr, 5) + fifo.peek(nullptr, 5), 0);
    for (const int n : {0, -1, INT_MIN})
        EXPECT_EQ(fifo.write(bytes.data(), n) + fifo.read(out, n) + fifo.peek(out, n) + fifo.discard(n), 0) << n;
    EXPECT_THROW(fifo.write(bytes.data(), INT_MAX), std::bad_alloc);
    EXPECT_THROW(fifo.reset(INT_MAX), std::bad_alloc);
    EXPECT_EQ(Drain(fifo), Bytes(bytes.begin(), bytes.begin() + 12));
    EXPECT_EQ(fifo.capacity(), 1024);
    fifo.write(bytes.data(), 600);
    fifo.empty();
    fifo.reset(-5);
    EXPECT_EQ(fifo.size(), 0);
    EXPECT_EQ(fifo.capacity(), 1024);
}

// Writes, reads, peeks, discards and front insertions of uneven sizes (one byte
// among them) against a plain queue: every move of the remainder overlaps its source.
TEST(SerialFifo, UnevenTrafficMatchesAPlainQueue)
{
    CSerialFIFO fifo;
    std::deque<unsigned char> model;
    std::mt19937 random(20240601);
    int64_t written = 0;
    for (int step = 0; step < 3000; ++step) {
        const int n = step % 7 == 0 ? 1 : static_cast<int>(random() % 700) + 1;
        Bytes out(static_cast<size_t>(n));
        const int inModel = static_cast<int>(model.size());
        switch (random() % 5) {
            case 0:
            case 1: {
                const Bytes bytes = Pattern(written, n);
                written += n;
                ASSERT_EQ(fifo.write(bytes.data(), n), inModel + n);
                model.insert(model.end(), bytes.begin(), bytes.end());
                break;
            }
            case 2: {
                const int taken = fifo.read(out.data(), n);
                ASSERT_EQ(taken, std::min(n, inModel));
                ASSERT_TRUE(std::equal(out.begin(), out.begin() + taken, model.begin()));
                model.erase(model.begin(), model.begin() + taken);
                break;
            }
            case 3:
                ASSERT_EQ(fifo.discard(n), std::min(n, inModel));
                model.erase(model.begin(), model.begin() + std::min(n, inModel));
                break;
            case 4: {
                fifo.push_front(static_cast<unsigned char>(step));
                model.push_front(static_cast<unsigned char>(step));
                const int copied = fifo.peek(out.data(), n);
                ASSERT_EQ(copied, std::min(n, inModel + 1));
                ASSERT_TRUE(std::equal(out.begin(), out.begin() + copied, model.begin()));
                break;
            }
        }
        ASSERT_EQ(fifo.size(), static_cast<int>(model.size()));
        ASSERT_LT(fifo.size(), fifo.capacity());
    }
    EXPECT_EQ(Drain(fifo), Bytes(model.begin(), model.end()));
}

TEST(SerialFifo, AssignmentCopiesIntoItsOwnBlock)
{
    CSerialFIFO source;
    const Bytes bytes = Pattern(0, 700);
    source.write(bytes.data(), 700);
    CSerialFIFO target;
    const unsigned char old[] = {1, 2, 3};
    target.write(old, 3);
    target = source;
    EXPECT_EQ(target.capacity(), 1024);
    source.discard(100);
    EXPECT_EQ(Drain(source), Bytes(bytes.begin() + 100, bytes.end()));
    EXPECT_EQ(Drain(target), bytes);
    const CSerialFIFO& alias = target;
    target.write(old, 3);
    target = alias;
    EXPECT_EQ(Drain(target), Bytes(old, old + 3));
}

}  // namespace
