#include "audio/RecvThread.h"

#include <RUZada.h>
#include <ruzada/outcall.h>

#include "audio/Feeders.h"
#include "audio/Resample.h"
#include "audio/Sound.h"
#include "base/ScopedLock.h"
#include "core/Globals.h"
#include "core/Messages.h"
#include "modes/ModeFuncs.h"

namespace {

constexpr int kRecvBlockSize = 4096;
// A block is decoded once it holds more than this many samples.
constexpr int kDecodeThreshold = 3072;
constexpr int kCharsCapacity = DG_DECODE_CAPACITY;
constexpr DWORD kPollMs = 5;

// What the thread hands a decoder lives on the thread's own stack, which lasts as
// long as the thread however it ends: a decoder stuck past the module's unload
// may still be reading and writing it (ruzada/outcall.h).
struct RecvBuffers {
    int16_t block[kRecvBlockSize];
    int16_t scratch[kRate48KHzFactor * kRecvBlockSize];
    char chars[kCharsCapacity];
    char16_t wideChars[kCharsCapacity];
};

int32_t g_nRecvFill = 0;

// A decoder's count, cut to what it was given room for.
int ClampDecoded(int count) { return count < 0 ? 0 : (count > kCharsCapacity ? kCharsCapacity : count); }

// A single 0 is how a decoder says it found nothing.
template <class Unit>
bool HasCharacters(const Unit* chars, int count)
{
    return count > 1 || (count == 1 && chars[0] != 0);
}

// A mode without sound input: its decoder finds characters by other means.
void PolledPass(RecvBuffers& buffers)
{
    CScopedLock mode(&g_csMode);
    const PFN_DecodeDGDataA decode = g_ModeFuncs.DecodeDGDataA;
    if (!decode)
        return;
    FeedRecvSamples(buffers.block, kRecvBlockSize);
    const int count =
        ClampDecoded(CallOutDecodeA(decode, buffers.block, kRecvBlockSize, buffers.chars, kCharsCapacity));
    mode.Unlock();
    for (int i = 0; i < count && g_bRunning; ++i)
        PostToHost(g_uMsgChar, static_cast<WPARAM>(static_cast<int32_t>(static_cast<int8_t>(buffers.chars[i]))), 0);
}

// Reads what the card has into the block past g_nRecvFill; returns the number
// of 8000-per-second samples added there.
int ReadCard(RecvBuffers& buffers)
{
    CScopedLock sound(&g_csSound);
    CSound* card = g_pSound;
    if (!card)
        return 0;
    const int room = kRecvBlockSize - g_nRecvFill;
    if (g_bUse48KHz) {
        const int read = card->ReadIn(buffers.scratch, kRate48KHzFactor * room);
        return read > 0 ? Decimate6(buffers.block + g_nRecvFill, buffers.scratch, read) : 0;
    }
    const int read = card->ReadIn(buffers.block + g_nRecvFill, room);
    return read > 0 ? read : 0;
}

void DecodeBlock(RecvBuffers& buffers)
{
    FeedRecvSamples(buffers.block, g_nRecvFill);
    CScopedLock mode(&g_csMode);
    if (const PFN_DecodeDGDataW decode = g_ModeFuncs.DecodeDGDataW) {
        const int count =
            ClampDecoded(CallOutDecodeW(decode, buffers.block, g_nRecvFill, buffers.wideChars, kCharsCapacity));
        mode.Unlock();
        if (HasCharacters(buffers.wideChars, count)) {
            for (int i = 0; i < count && g_bRunning; ++i) {
                if (buffers.wideChars[i] != 0)
                    PostToHost(g_uMsgChar, buffers.wideChars[i], 0);
            }
        }
    } else if (const PFN_DecodeDGDataA decode = g_ModeFuncs.DecodeDGDataA) {
        const int count =
            ClampDecoded(CallOutDecodeA(decode, buffers.block, g_nRecvFill, buffers.chars, kCharsCapacity));
        mode.Unlock();
        if (HasCharacters(buffers.chars, count)) {
            for (int i = 0; i < count && g_bRunning; ++i) {
                if (static_cast<int8_t>(buffers.chars[i]) > 0)
                    PostToHost(g_uMsgChar, static_cast<unsigned char>(buffers.chars[i]), 0);
            }
        }
    }
    g_nRecvFill = 0;
}

void SoundPass(RecvBuffers& buffers)
{
    CSound* card = g_pSound;
    if (GetDGFreq() == 0.0 || !card || !card->IsInOpen())
        return;
    // Without a snap-in nothing empties the block; once it is full, drop it so
    // that a snap-in loaded later decodes fresh audio rather than stale.
    if (g_nRecvFill == kRecvBlockSize && !g_hModeLib)
        g_nRecvFill = 0;
    const int added = ReadCard(buffers);
    if (!(g_dwSoundMode & kSoundModeReceive) || g_bModeBusy || added == 0)
        return;
    g_nRecvFill += added;
    if (!g_hModeLib || g_nRecvFill <= kDecodeThreshold)
        return;
    DecodeBlock(buffers);
}

}  // namespace

DWORD RecvThreadProc(void*)
{
    g_bRecvThreadAlive = 1;
    RecvBuffers buffers{};
    ResetEvent(g_hStopRecvEvent);
    while (g_bRunning) {
        if (WaitForSingleObject(g_hStopRecvEvent, kPollMs) == WAIT_OBJECT_0 || !g_bRunning)
            break;
        if (g_bNoSoundCard || g_bNoSoundInput)
            PolledPass(buffers);
        else
            SoundPass(buffers);
    }
    g_bRecvThreadAlive = 0;
    return 0;
}
