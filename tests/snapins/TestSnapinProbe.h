// What a test snap-in records (exports "TestSnapinCalls" and "CodecCalls") and
// the signals it shares with the tests.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

#include <ruzada/wintypes.h>

struct SnapinCallLog {
    int setupCalls = 0;
    HWND setupHost = nullptr;
    int funcCalls = 0;
    HWND funcHost = nullptr;
    uint32_t funcA = 0;
    uint32_t funcB = 0;
};

// The n-th call of InvokeDGSetup answers kSetupResultBase + n, of InvokeDGFunc7
// kFuncResultBase + n.
inline constexpr int kSetupResultBase = 100;
inline constexpr int kFuncResultBase = 700;
// The unit that fills the whole name of a snap-in built with SNAPIN_LONG_NAME.
inline constexpr char16_t kLongNameUnit = u'L';

inline constexpr int kCodecLogSize = 4096;

// A character is kBurstLength samples at its level, then kBurstLength of silence.
inline constexpr int kBurstLength = 24;
inline constexpr int kLevelStep = 64;
constexpr int16_t CodecLevel(uint16_t unit) { return static_cast<int16_t>((unit & 0xFF) * kLevelStep + kLevelStep); }
constexpr uint16_t CodecUnit(int level) { return static_cast<uint16_t>(level / kLevelStep - 1); }

// How a stalling codec call behaves: asleep in the platform (where it can be
// cancelled), spinning without system calls for ever, or spinning for
// kSlowCallLength and then returning.
enum class Stall { Sleep, Spin, SpinFiveSeconds };
inline constexpr std::chrono::seconds kSlowCallLength{5};

// The ramp the twiddle plays, its i-th sample: never 0, so that the played stream shows where it starts.
constexpr int16_t RampSample(long i) { return static_cast<int16_t>(i % 30000 + 1); }

// Append-only lists: a writer stores the entry, then publishes the count.
struct CodecList {
    std::atomic<int> count{0};
    int entries[kCodecLogSize] = {};

    void Add(int value)
    {
        const int n = count.load(std::memory_order_relaxed);
        if (n < kCodecLogSize) {
            entries[n] = value;
            count.store(n + 1, std::memory_order_release);
        }
    }
};

struct CodecLog {
    std::atomic<int> initCalls{0};
    std::atomic<double> initRate{0.0};
    std::atomic<bool> holdInit{false};  // InitRUZada returns only once this is clear
    CodecList decodeSizes;              // the sample count of each decoder call
    CodecList encodeBatches;            // the character count of each encoder call
    CodecList encodedUnits;             // every character handed to the encoder, in order
    CodecList twiddleWanted;            // the N of each twiddle call
    CodecList twiddleTimes;             // when each twiddle call came, in ms since the snap-in loaded
    std::atomic<int> hasData{0};        // what HasDGData answers
};
using PFN_CodecCalls = CodecLog* (*)();
