// What a codec test snap-in records, and the signal its encoder and decoder
// share. A test reads the record through the snap-in's export "CodecCalls" after
// opening the loaded copy with RTLD_NOLOAD.
#pragma once

#include <atomic>
#include <cstdint>

inline constexpr int kCodecLogSize = 4096;

// A character is kBurstLength samples at its level, then kBurstLength of silence.
inline constexpr int kBurstLength = 24;
inline constexpr int kLevelStep = 64;
constexpr int16_t CodecLevel(uint16_t unit) { return static_cast<int16_t>((unit & 0xFF) * kLevelStep + kLevelStep); }
constexpr uint16_t CodecUnit(int level) { return static_cast<uint16_t>(level / kLevelStep - 1); }

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
    CodecList decodeSizes;    // the sample count of each decoder call
    CodecList encodeBatches;  // the character count of each encoder call
    CodecList encodedUnits;   // every character handed to the encoder, in order
    CodecList twiddleWanted;  // the N of each twiddle call
    std::atomic<int> hasData{0};  // what HasDGData answers
    std::atomic<int> decoderEntered{0};
};
using PFN_CodecCalls = CodecLog* (*)();
