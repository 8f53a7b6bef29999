// The test snap-in: one source, built once per scenario. Compile definitions
// choose what a build is:
//   SNAPIN_MASK=<n>         the mode mask GetDGSetup reports (default 0)
//   SNAPIN_NAME=u"..."      its display name (default: empty)
//   SNAPIN_LONG_NAME        a name filling all 256 units with no terminator, and the
//                           reserved field after it non-zero, as a careless snap-in
//                           leaves them
//   SNAPIN_NO_SETUP         no GetDGSetup: a library that is not a snap-in
//   SNAPIN_INVOKE           InvokeDGFunc7 and InvokeDGSetup, which record their calls
//   CODEC_WIDE              UTF-16 encoder and decoder; otherwise byte ones
//   CODEC_NO_SOUND_INPUT    the mode takes no sound input (its decoder is polled)
//   CODEC_NO_SOUND_CARD     the mode uses no sound card at all
//   CODEC_SCRIPTED          the decoder ignores the audio: its first call answers
//                           a fixed list, later calls nothing
//   CODEC_OVER_CAPACITY     every codec call claims more than it was given room for
//   CODEC_STALL_DECODER=<s> the decoder stalls as Stall s says (TestSnapinProbe.h)
//   CODEC_STALL_ENCODER=<s> the encoder likewise
//   CODEC_NO_TWIDDLE        no GetDGTwiddle
// The encoder turns each character into a burst at its own level, which the
// decoder finds again; the twiddle plays a ramp, which it never takes for one.

#include <algorithm>
#include <chrono>
#include <iterator>

#include <DGSnapin.h>
#include <ruzada/kernel.h>

#include "TestSnapinProbe.h"

#ifndef SNAPIN_MASK
#define SNAPIN_MASK 0
#endif
#ifndef SNAPIN_NAME
#define SNAPIN_NAME u""
#endif

#ifdef CODEC_WIDE
using Unit = char16_t;
#define CODEC_ENCODE EncodeDGDataW
#define CODEC_DECODE DecodeDGDataW
#else
using Unit = char;
#define CODEC_ENCODE EncodeDGDataA
#define CODEC_DECODE DecodeDGDataA
#endif

namespace {

CodecLog g_log;
SnapinCallLog g_calls;
const auto g_loadTime = std::chrono::steady_clock::now();

// The decoder's place in the signal: the level of the burst it is in and how
// long it has lasted so far.
int g_nBurstLevel = 0;
int g_nBurstLength = 0;
#ifdef CODEC_SCRIPTED
bool g_bScriptDone = false;
#endif

#ifdef CODEC_OVER_CAPACITY
constexpr int kOverCapacity = 1000;
#else
constexpr int kOverCapacity = 0;
#endif

[[maybe_unused]] void StallCall(Stall how)
{
    const auto start = std::chrono::steady_clock::now();
    switch (how) {
        case Stall::Sleep:
            for (;;)
                Sleep(1000);
        case Stall::Spin: {
            // An atomic read, so that the loop is not one the compiler may drop.
            static std::atomic<bool> forever{true};
            while (forever.load(std::memory_order_relaxed)) {
            }
            break;
        }
        case Stall::SpinFiveSeconds:
            while (std::chrono::steady_clock::now() - start < kSlowCallLength) {
            }
            break;
    }
}

}  // namespace

DG_SNAPIN_EXPORT CodecLog* CodecCalls() { return &g_log; }
DG_SNAPIN_EXPORT const SnapinCallLog* TestSnapinCalls() { return &g_calls; }

#ifndef SNAPIN_NO_SETUP
DG_SNAPIN_EXPORT void GetDGSetup(DGSETUP* setup)
{
    setup->qwMode = SNAPIN_MASK;
#ifdef SNAPIN_LONG_NAME
    std::fill_n(setup->szName, sizeof setup->szName / sizeof(char16_t), kLongNameUnit);
    setup->dwReserved1 = 0x00580058;
#else
    constexpr char16_t name[] = SNAPIN_NAME;
    std::copy_n(name, std::size(name), setup->szName);
#endif
#ifdef CODEC_NO_SOUND_INPUT
    setup->bNoSoundInput = 1;
#endif
#ifdef CODEC_NO_SOUND_CARD
    setup->bNoSoundCard = 1;
#endif
}
#endif

#ifdef SNAPIN_INVOKE
DG_SNAPIN_EXPORT int InvokeDGFunc7(HWND host, uint32_t a, uint32_t b)
{
    g_calls.funcHost = host;
    g_calls.funcA = a;
    g_calls.funcB = b;
    return kFuncResultBase + ++g_calls.funcCalls;
}

DG_SNAPIN_EXPORT int InvokeDGSetup(HWND host)
{
    g_calls.setupHost = host;
    return kSetupResultBase + ++g_calls.setupCalls;
}
#endif

DG_SNAPIN_EXPORT void InitRUZada(double rate)
{
    g_log.initRate = rate;
    ++g_log.initCalls;
    while (g_log.holdInit)
        Sleep(1);
}

DG_SNAPIN_EXPORT int HasDGData() { return g_log.hasData; }

DG_SNAPIN_EXPORT uint32_t DoDGCommand(uint32_t command) { return command + SNAPIN_MASK; }

DG_SNAPIN_EXPORT int CODEC_ENCODE(int16_t* samples, int capacity, const Unit* chars, int count)
{
    g_log.encodeBatches.Add(count);
#ifdef CODEC_STALL_ENCODER
    StallCall(Stall::CODEC_STALL_ENCODER);
#endif
    int written = 0;
    for (int i = 0; i < count; ++i) {
        g_log.encodedUnits.Add(static_cast<uint16_t>(chars[i]) & (sizeof(Unit) == 1 ? 0xFF : 0xFFFF));
        if (written + 2 * kBurstLength > capacity)
            break;
        std::fill_n(samples + written, kBurstLength, CodecLevel(static_cast<uint16_t>(chars[i])));
        std::fill_n(samples + written + kBurstLength, kBurstLength, int16_t{0});
        written += 2 * kBurstLength;
    }
#if defined(CODEC_OVER_CAPACITY)
    std::fill_n(samples + written, capacity - written, int16_t{0});
    return capacity + kOverCapacity;
#else
    return written;
#endif
}

DG_SNAPIN_EXPORT int CODEC_DECODE(const int16_t* samples, int count, Unit* chars, int capacity)
{
    g_log.decodeSizes.Add(count);
#ifdef CODEC_STALL_DECODER
    StallCall(Stall::CODEC_STALL_DECODER);
#endif
#ifdef CODEC_OVER_CAPACITY
    std::fill_n(chars, capacity, Unit{'z'});
    return capacity + kOverCapacity;
#endif
#ifdef CODEC_SCRIPTED
    if (g_bScriptDone)
        return 0;
    g_bScriptDone = true;
#ifdef CODEC_WIDE
    constexpr Unit script[] = {0, u'x', 0, u'y', 0x00E9};
#else
    constexpr Unit script[] = {'A', 0, static_cast<char>(0xE9), 'B', 0};
#endif
    const int n = std::min<int>(sizeof script / sizeof script[0], capacity);
    std::copy_n(script, n, chars);
    return n;
#endif
    int found = 0;
    for (int i = 0; i < count; ++i) {
        const int level = samples[i];
        if (level == g_nBurstLevel) {
            ++g_nBurstLength;
            continue;
        }
        if (g_nBurstLevel != 0 && g_nBurstLength >= kBurstLength / 2 && found < capacity)
            chars[found++] = static_cast<Unit>(CodecUnit(g_nBurstLevel));
        g_nBurstLevel = level;
        g_nBurstLength = 1;
    }
    return found;
}

#ifndef CODEC_NO_TWIDDLE
DG_SNAPIN_EXPORT int GetDGTwiddle(int16_t* samples, int wanted)
{
    static long played = 0;
    g_log.twiddleWanted.Add(wanted);
    const auto since = std::chrono::steady_clock::now() - g_loadTime;
    g_log.twiddleTimes.Add(static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(since).count()));
    for (int i = 0; i < wanted; ++i, ++played)
        samples[i] = RampSample(played);
    return wanted + kOverCapacity;
}
#endif
