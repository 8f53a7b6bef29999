// The work of CDFT::Process on one block, in one version per vector instruction
// set; the engine takes the best one the processor runs. Every version performs
// the same arithmetic in the same order on each value, so all give the same
// spectrum bit for bit.
//
// A block is windowed and put into bit-reversed order in one pass, transformed
// in place by radix-4 stages, and split into the bins of the real transform in
// a last pass that also updates the spectrum. On the log scale with N = 1 that
// pass takes a fast log10 wherever the output is sure to truncate as with
// std::log10, and std::log10 for the few bins left in doubt.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>

class CDFT;

// Spectrum slots are read by other threads without a lock: single relaxed
// atomic stores and loads.
inline void StoreSlot(double& slot, double value)
{
    std::atomic_ref<double>(slot).store(value, std::memory_order_relaxed);
}

inline double LoadSlot(const double& slot)
{
    return std::atomic_ref<double>(const_cast<double&>(slot)).load(std::memory_order_relaxed);
}

// How a bin's power P updates its spectrum slot S.
struct SlotRule {
    bool logScale;
    double floor;  // decades, subtracted on the log scale
    double keep;   // 1 - 1/N
    double share;  // 1/N
    // Nonzero when a fast log10 may stand in for std::log10 (log scale, N = 1):
    // the output multiplier under which both must truncate alike.
    double fastScale;
};

// Log scale: L = log10(P + 28145.8) - 4.4494132 - floor; S = S * keep, plus
// L * share when L >= 0. Linear: S = S * keep + P^0.25 / 289.626 * share.
// The slot is written with one atomic store, for readers on other threads.
void UpdateSlot(double& slot, double power, const SlotRule& rule);

struct DFTBlock {
    const double* samples;       // 2048, time order
    const double* window;        // 2048
    const double* tables;        // 256 complex twiddles (bit-reversed), then 512 cosines
    int32_t* bitReverseScratch;  // 32 entries
    double* work;                // 2048
    double* spectrum;            // bin k in slot 2k
    SlotRule rule;
};

// table[i] = i with its lowest `bits` bits in reverse order, for i < 2^bits.
void FillBitReverseTable(int32_t* table, int bits);

// The block as `engine` processes it under its current configuration.
DFTBlock DescribeBlock(CDFT& engine, const double* samples);

struct DFTKernel {
    const char* name;
    bool (*runsHere)();
    // Returns whether a sample lay above +29491.2.
    bool (*process)(const DFTBlock& block);
};

// Every version built in, the widest vectors first.
std::span<const DFTKernel> DFTKernels();
// The first of DFTKernels() that this processor runs.
const DFTKernel& ChosenDFTKernel();
