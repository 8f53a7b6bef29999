// The send queue: UTF-16 units the host typed, waiting for the transmit thread.
// Every change happens under g_csSendQueue; the size is also kept in an atomic so
// that IsDGSendIdle may poll it without the lock.
#pragma once

#include <atomic>
#include <cstddef>
#include <deque>

#include <ruzada/wintypes.h>

class CSendQueue {
public:
    // The caller holds g_csSendQueue.
    void Append(WORD unit);
    // Moves up to `most` units from the front into `batch`, oldest first, and
    // returns how many. The caller holds g_csSendQueue.
    int TakeFront(WORD* batch, int most);
    // Readable without the lock.
    size_t Size() const { return m_nSize.load(std::memory_order_acquire); }
    bool Empty() const { return Size() == 0; }

private:
    std::deque<WORD> m_units;
    std::atomic<size_t> m_nSize{0};
};

extern CSendQueue g_SendQueue;

// The single unit Windows-1252 gives for `byte`; bytes the code page leaves
// undefined keep their value, as the system conversion does.
char16_t Windows1252ToUnit(unsigned char byte);
