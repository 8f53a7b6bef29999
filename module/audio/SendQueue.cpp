// SendDGCharW, SendDGCharA and IsDGSendIdle: the host's side of the send queue.
#include "audio/SendQueue.h"

#include <algorithm>

#include <RUZada.h>

#include "base/ScopedLock.h"
#include "core/Globals.h"
#include "core/Guard.h"
#include "modes/ModeFuncs.h"

CSendQueue g_SendQueue;

namespace {
constexpr WORD kNoCharacter = 0xFFFF;

// Windows-1252 0x80..0x9F; the rest of the page is Latin-1.
constexpr char16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};
}  // namespace

void CSendQueue::Append(WORD unit)
{
    m_units.push_back(unit);
    m_nSize.store(m_units.size(), std::memory_order_release);
}

int CSendQueue::TakeFront(WORD* batch, int most)
{
    const int count = static_cast<int>(std::min<size_t>(m_units.size(), most > 0 ? most : 0));
    std::copy_n(m_units.begin(), count, batch);
    m_units.erase(m_units.begin(), m_units.begin() + count);
    m_nSize.store(m_units.size(), std::memory_order_release);
    return count;
}

char16_t Windows1252ToUnit(unsigned char byte)
{
    return byte >= 0x80 && byte < 0xA0 ? kHighControls[byte - 0x80] : char16_t{byte};
}

void SendDGCharW(WORD ch)
{
    Guarded([&] {
        if (!g_hModeLib || ch == kNoCharacter)
            return;
        CScopedLock queue(&g_csSendQueue);
        g_SendQueue.Append(ch);
    });
}

void SendDGCharA(char ch) { SendDGCharW(Windows1252ToUnit(static_cast<unsigned char>(ch))); }

int IsDGSendIdle(void)
{
    return Guarded(0, [&] {
        if (!g_SendQueue.Empty() || g_bEncoding)
            return 0;
        const PFN_HasDGData hasData = g_ModeFuncs.HasDGData;
        if (!hasData)
            return 1;
        return hasData() == 0 ? 1 : 0;
    });
}
