// The module's byte queue between threads: a growable linear buffer with its own
// lock. Bytes go in at the back and come out at the front; taking bytes moves the
// rest down to the start of the block. It never drops data and never refuses it:
// a write that does not fit grows the block.
//
// Capacity: 256 bytes at first, a multiple of 256 always, never shrunk. Growing
// for a required size S gives ((S + 255) / 256 + 1) * 256 bytes, and happens as
// soon as the data would reach the capacity, so one byte behind the data is always
// free.
//
// Threads: one producer, one consumer and any thread that clears the FIFO may use
// it at once. Every operation but size() holds the lock throughout and calls
// nothing outside the FIFO meanwhile.
//
// Failures: a null buffer or a count below 1 is answered with 0 and changes
// nothing. A block that cannot be allocated leaves the FIFO exactly as it was and
// throws std::bad_alloc.
#pragma once

#include <atomic>
#include <cstdint>

#include <ruzada/kernel.h>

#include "base/Export.h"

class RUZADA_CLASS CSerialFIFO {
public:
    CSerialFIFO();
    ~CSerialFIFO();
    CSerialFIFO(const CSerialFIFO&) = delete;
    // Copies the other FIFO's queued bytes into this FIFO's own block; the two
    // never share a block or a lock.
    CSerialFIFO& operator=(const CSerialFIFO&);

    // The number of queued bytes, read without the lock: a hint that may be about
    // to change.
    int size() const;
    // Drops every queued byte; the block stays.
    void empty();

    // Appends n bytes and returns the number of bytes now queued (not n).
    int write(const void* data, int n);
    // Moves up to n bytes from the front into `out`; returns how many.
    int read(void* out, int n);
    // Copies up to n bytes from the front into `out` and leaves them queued.
    int peek(void* out, int n);
    // Drops up to n bytes from the front; returns how many.
    int discard(int n);
    // Inserts `b` ahead of every queued byte.
    void push_front(unsigned char b);
    // Empties the FIFO and makes the block at least n bytes long.
    void reset(int n);

    // The block's size in bytes.
    int capacity() const;

private:
    // Replaces the block by one sized by the growth rule for `required` bytes,
    // keeping the first `keep` queued bytes. Allocates before it changes anything.
    void Regrow(int64_t required, int32_t keep);
    // Drops k bytes from the front, moving the rest down.
    void DropFront(int32_t k);

    unsigned char* m_pBuffer;
    std::atomic<int32_t> m_nCount;
    int32_t m_nCapacity;
    mutable CRITICAL_SECTION m_Lock;
};
