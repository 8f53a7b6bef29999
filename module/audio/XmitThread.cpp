#include "audio/XmitThread.h"

#include <algorithm>

#include <RUZada.h>
#include <ruzada/outcall.h>

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
constexpr int kOutputBlockSize = kRate48KHzFactor * kEncodeBlockSize;
constexpr int kMaxBatch = DG_MAX_BATCH;
constexpr DWORD kPassWaitMs = 1;
constexpr DWORD kNoWakeEventMs = 5;
constexpr DWORD kNoPlaybackMs = 500;
constexpr DWORD kIdleMs = 10;
constexpr DWORD kRoomWaitMs = 10;
constexpr DWORD kSlowCpuSpeed = 1000;
constexpr int kSlowCpuTwiddleFactor = 4;

bool ReceiveOn() { return (g_dwSoundMode & kSoundModeReceive) != 0; }

int ClampCount(int count, int capacity) { return std::clamp(count, 0, capacity); }

// Lives on the thread's own stack (hence kXmitThreadStackBytes), which lasts as
// long as the thread however it ends: an encoder stuck past the module's unload
// may still be writing into m_Encode (ruzada/outcall.h).
class CXmitThread {
public:
    // One pass; false when the thread must end.
    bool Pass();

private:
    void IdlePass();
    void CharacterPass();
    void TwiddlePass();
    // Encodes the batch with whichever encoder the mode has (`wide` first); the
    // caller holds g_csMode. Returns the number of samples written from slot 1 on.
    int EncodeBatch(PFN_EncodeDGDataW wide, PFN_EncodeDGDataA narrow, const WORD* batch, int count);
    // Silence from slot 0 on, for the spectrum while nothing else is sent.
    void FeedSilence(int count);
    void Play(int count);

    int16_t m_Encode[kEncodeBlockSize] = {};
    int16_t m_Output[kOutputBlockSize] = {};
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
    if (!(g_dwSoundMode & kSoundModeTransmit) || (CardRate() == 0 && !g_bNoSoundCard && !g_bNoSoundOutput))
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
        // What the waterfall has always been fed here: 4114 samples at 8000, 8228 at 48000.
        FeedSilence(g_bUse48KHz ? rate * 18 / 105 : rate * 18 / 35);
    }
    Sleep(kIdleMs);
}

void CXmitThread::FeedSilence(int count)
{
    std::fill_n(m_Encode, count, int16_t{0});
    FeedXmitSamples(m_Encode, count);
}

int CXmitThread::EncodeBatch(PFN_EncodeDGDataW wide, PFN_EncodeDGDataA narrow, const WORD* batch, int count)
{
    if (wide) {
        char16_t units[kMaxBatch];
        std::copy_n(batch, count, units);
        return ClampCount(CallOutEncodeW(wide, m_Encode + 1, kEncodeCapacity, units, count), kEncodeCapacity);
    }
    char bytes[kMaxBatch];
    std::transform(batch, batch + count, bytes, [](WORD unit) { return static_cast<char>(unit & 0xFF); });
    return ClampCount(CallOutEncodeA(narrow, m_Encode + 1, kEncodeCapacity, bytes, count), kEncodeCapacity);
}

// "DG_SENTCHAR" for each unit of an encoded batch: the unit as it stands after
// the wide encoder, its low byte sign-extended after the narrow one.
void PostSent(const WORD* batch, int count, bool wide)
{
    for (int i = 0; i < count; ++i) {
        const WPARAM sent =
            wide ? batch[i] : static_cast<WPARAM>(static_cast<int32_t>(static_cast<int8_t>(batch[i] & 0xFF)));
        PostToHost(g_uMsgSentChar, sent, 0);
    }
}

// Holds g_csSendQueue from start to end, but lets it go while the encoder runs,
// so that the host can keep queueing meanwhile.
void CXmitThread::CharacterPass()
{
    if (!g_ModeFuncs.EncodeDGDataW && !g_ModeFuncs.EncodeDGDataA)
        return;
    CScopedLock queue(&g_csSendQueue);
    g_bEncoding = 1;
    while (!g_SendQueue.Empty()) {
        m_Encode[0] = m_nCarried;
        CScopedLock mode(&g_csMode);
        const PFN_EncodeDGDataW wide = g_ModeFuncs.EncodeDGDataW;
        const PFN_EncodeDGDataA narrow = g_ModeFuncs.EncodeDGDataA;
        if (!wide && !narrow)
            break;
        WORD batch[kMaxBatch];
        const int count = g_SendQueue.TakeFront(batch, kMaxBatch);
        queue.Unlock();
        const int samples = EncodeBatch(wide, narrow, batch, count);
        mode.Unlock();
        if (samples > 0)
            PostSent(batch, count, wide != nullptr);
        if (!ReceiveOn())
            FeedXmitSamples(m_Encode + 1, samples);
        if (!g_bNoSoundCard && !g_bNoSoundOutput && samples >= 1)
            Play(samples);
        queue.Lock();
    }
    g_bEncoding = 0;
}

void CXmitThread::TwiddlePass()
{
    const int rate = static_cast<int>(CardRate());
    int wanted = rate / CardRateFactor();
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
    m_Encode[0] = m_nCarried;
    const int samples = ClampCount(CallOutSamples(twiddle, m_Encode + 1, wanted), wanted);
    mode.Unlock();
    if (!ReceiveOn())
        FeedXmitSamples(m_Encode + 1, samples);
    if (!g_bNoSoundCard && samples >= 1)
        Play(samples);
}

void CXmitThread::Play(int count)
{
    m_nCarried = m_Encode[count];
    const int played =
        g_bUse48KHz ? Repeat6(m_Output, m_Encode, count) : (std::copy_n(m_Encode, count, m_Output), count);
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
                if (card->WriteOut(m_Output + written, piece) < 0)
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
