#include "audio/XmitThread.h"

#include <algorithm>
#include <memory>

#include <RUZada.h>

#include "audio/Feeders.h"
#include "audio/Resample.h"
#include "audio/SendQueue.h"
#include "audio/Sound.h"
#include "audio/SoundControl.h"
#include "base/ScopedLock.h"
#include "core/Globals.h"
#include "core/Messages.h"
#include "modes/ModeFuncs.h"

namespace {

constexpr int kEncodeBlockSize = 90000;
constexpr int kEncodeCapacity = DG_ENCODE_CAPACITY;  // slot 0 is the carried sample
constexpr int kOutputBlockSize = 6 * kEncodeBlockSize;
constexpr int kMaxBatch = DG_MAX_BATCH;
constexpr DWORD kXmitBit = 1;
constexpr DWORD kRecvBit = 2;
constexpr DWORD kPassWaitMs = 1;
constexpr DWORD kNoWakeEventMs = 5;
constexpr DWORD kNoPlaybackMs = 500;
constexpr DWORD kIdleMs = 10;
constexpr DWORD kRoomWaitMs = 10;
constexpr int kRateDivisor48KHz = 6;
constexpr DWORD kSlowCpuSpeed = 1000;
constexpr int kSlowCpuTwiddleFactor = 4;

bool ReceiveOn() { return (g_dwSoundMode & kRecvBit) != 0; }

int ClampCount(int count, int capacity) { return std::clamp(count, 0, capacity); }

class CXmitThread {
public:
    CXmitThread()
        : m_pEncode(std::make_unique<int16_t[]>(kEncodeBlockSize)),
          m_pOutput(std::make_unique<int16_t[]>(kOutputBlockSize))
    {}

    // One pass; false when the thread must end.
    bool Pass();

private:
    void IdlePass();
    void CharacterPass();
    void TwiddlePass();
    // Encodes one batch with whichever encoder the mode has; -1 when it has none.
    int EncodeBatch();
    // Silence from slot 0 on, for the spectrum while nothing else is sent.
    void FeedSilence(int count);
    void Play(int count);

    std::unique_ptr<int16_t[]> m_pEncode;
    std::unique_ptr<int16_t[]> m_pOutput;
    int16_t m_nCarried = 0;
};

bool CXmitThread::Pass()
{
    if (WaitForSingleObject(g_hStopXmitEvent, kPassWaitMs) == WAIT_OBJECT_0 || !g_bRunning)
        return false;
    if (g_bModeBusy)
        return true;
    const HANDLE wake = g_hXmitEvent;
    if (!wake) {
        Sleep(kNoWakeEventMs);
        return true;
    }
    const HANDLE events[2] = {g_hStopXmitEvent, wake};
    const DWORD polled = WaitForMultipleObjects(2, events, FALSE, 0);
    if (polled == WAIT_OBJECT_0 || polled == WAIT_ABANDONED_0) {
        g_bRunning = 0;
        return false;
    }
    if (polled == WAIT_OBJECT_0 + 1) {
        ResetEvent(wake);
    } else if (polled != WAIT_TIMEOUT) {
        ResetEvent(wake);
        return true;
    }
    CSound* card = g_pSound;
    if (!g_bNoSoundCard && (!card || !card->IsOutOpen())) {
        Sleep(kNoPlaybackMs);
        return true;
    }
    if (!(g_dwSoundMode & kXmitBit) || (CardRate() == 0 && !g_bNoSoundCard && !g_bNoSoundOutput))
        IdlePass();
    else if (!g_SendQueue.Empty())
        CharacterPass();
    else
        TwiddlePass();
    return true;
}

void CXmitThread::IdlePass()
{
    if (!ReceiveOn()) {
        const int rate = static_cast<int>(CardRate());
        FeedSilence(g_bUse48KHz ? rate * 18 / 105 : rate * 18 / 35);
    }
    Sleep(kIdleMs);
}

void CXmitThread::FeedSilence(int count)
{
    std::fill_n(m_pEncode.get(), count, int16_t{0});
    FeedXmitSamples(m_pEncode.get(), count);
}

int CXmitThread::EncodeBatch()
{
    WORD batch[kMaxBatch];
    CScopedLock mode(&g_csMode);
    if (const PFN_EncodeDGDataW encode = g_ModeFuncs.EncodeDGDataW) {
        const int count = g_SendQueue.TakeFront(batch, kMaxBatch);
        LeaveCriticalSection(&g_csSendQueue);
        char16_t units[kMaxBatch];
        std::copy_n(batch, count, units);
        const int samples = ClampCount(encode(m_pEncode.get() + 1, kEncodeCapacity, units, count), kEncodeCapacity);
        mode.Unlock();
        for (int i = 0; samples > 0 && i < count; ++i)
            PostToHost(g_uMsgSentChar, units[i], 0);
        return samples;
    }
    if (const PFN_EncodeDGDataA encode = g_ModeFuncs.EncodeDGDataA) {
        const int count = g_SendQueue.TakeFront(batch, kMaxBatch);
        LeaveCriticalSection(&g_csSendQueue);
        char bytes[kMaxBatch];
        std::transform(batch, batch + count, bytes, [](WORD unit) { return static_cast<char>(unit & 0xFF); });
        const int samples = ClampCount(encode(m_pEncode.get() + 1, kEncodeCapacity, bytes, count), kEncodeCapacity);
        mode.Unlock();
        for (int i = 0; samples > 0 && i < count; ++i)
            PostToHost(g_uMsgSentChar, static_cast<WPARAM>(static_cast<int32_t>(static_cast<int8_t>(bytes[i]))), 0);
        return samples;
    }
    return -1;
}

void CXmitThread::CharacterPass()
{
    if (!g_ModeFuncs.EncodeDGDataW && !g_ModeFuncs.EncodeDGDataA)
        return;
    EnterCriticalSection(&g_csSendQueue);
    g_bEncoding = 1;
    while (!g_SendQueue.Empty()) {
        m_pEncode[0] = m_nCarried;
        // Leaves g_csSendQueue once the batch is out of the queue.
        const int samples = EncodeBatch();
        if (samples < 0)
            break;
        if (!ReceiveOn())
            FeedXmitSamples(m_pEncode.get() + 1, samples);
        if (!g_bNoSoundCard && !g_bNoSoundOutput && samples >= 1)
            Play(samples);
        EnterCriticalSection(&g_csSendQueue);
    }
    g_bEncoding = 0;
    LeaveCriticalSection(&g_csSendQueue);
}

void CXmitThread::TwiddlePass()
{
    const int rate = static_cast<int>(CardRate());
    int wanted = g_bUse48KHz ? rate / kRateDivisor48KHz : rate;
    if (g_dwCpuSpeed < kSlowCpuSpeed)
        wanted *= kSlowCpuTwiddleFactor;
    wanted = std::clamp(wanted, 0, kEncodeCapacity);
    CScopedLock mode(&g_csMode);
    const PFN_GetDGTwiddle twiddle = g_ModeFuncs.GetDGTwiddle;
    if (!twiddle) {
        if (!ReceiveOn())
            FeedSilence(wanted);
        return;
    }
    CSound* card = g_pSound;
    if (!g_bNoSoundCard && card && card->GetOutPending() >= wanted)
        return;
    m_pEncode[0] = m_nCarried;
    const int samples = ClampCount(twiddle(m_pEncode.get() + 1, wanted), wanted);
    mode.Unlock();
    if (!ReceiveOn())
        FeedXmitSamples(m_pEncode.get() + 1, samples);
    if (!g_bNoSoundCard && samples >= 1)
        Play(samples);
}

void CXmitThread::Play(int count)
{
    m_nCarried = m_pEncode[count];
    const int played = g_bUse48KHz ? Repeat6(m_pOutput.get(), m_pEncode.get(), count)
                                   : (std::copy_n(m_pEncode.get(), count, m_pOutput.get()), count);
    // Written as room comes free rather than in one blocking call: a block can
    // hold seconds of audio, and the receive thread needs g_csSound meanwhile to
    // read the capture ring before it overflows.
    for (int written = 0; written < played;) {
        {
            CScopedLock sound(&g_csSound);
            CSound* card = g_pSound;
            if (!card || !card->IsOutOpen())
                return;
            const int piece = std::min(played - written, card->GetOutRoom());
            if (piece > 0) {
                if (card->WriteOut(m_pOutput.get() + written, piece) < 0)
                    return;
                written += piece;
                continue;
            }
        }
        if (!g_bRunning)
            return;
        Sleep(kRoomWaitMs);
    }
}

}  // namespace

DWORD XmitThreadProc(void*)
{
    g_bXmitThreadAlive = 1;
    {
        CXmitThread thread;
        ResetEvent(g_hStopXmitEvent);
        while (g_bRunning && thread.Pass()) {
        }
    }
    g_bXmitThreadAlive = 0;
    return 0;
}
