// The spectrum engine: a block of 2048 samples (8000 per second) becomes 1024
// bins of power, bin k centred on k * 3.90625 Hz, on a logarithmic scale (or a
// compressed linear one), smoothed from block to block and handed out as small
// integers for the waterfall display.
//
// Threads: Process runs on one thread while GetSpectrum may run on another
// without a lock, so a reader may get some bins of the previous block and may
// see the overload flag cleared while a block is still being scanned.
// Configure and Clear belong before the processing thread starts.
#pragma once

#include <atomic>
#include <cstdint>

class CDFT {
public:
    // Default configuration: logarithmic scale, floor 0.0, N = 1, m_dScale 10.0
    // (a gain of 10), spectrum zero.
    CDFT();
    virtual ~CDFT();
    CDFT(const CDFT&) = delete;
    CDFT& operator=(const CDFT&) = delete;

    // count: the averaging count N (below 1 means 1); gain: the output for a
    // power ten decades above the floor is 10 * gain; scaleMode: 0 linear,
    // 10 to 99 logarithmic with a floor of scaleMode / 10 decades, any other
    // value logarithmic with floor 0. The spectrum is cleared when count as
    // passed differs from the count stored by the previous call, or the scale
    // changes between logarithmic and linear.
    void Configure(int32_t count, double gain, int32_t scaleMode);
    // Zeroes every bin.
    void Clear();
    // samples: 2048 values in time order, finite. Updates every bin and the
    // overload flag (a sample above +29491.2).
    void Process(const double* samples);
    // For b = first to last (nothing when first > last): out[b] = the bin's
    // value times m_dScale, truncated toward zero (0x80000000 when that does not
    // fit). out is indexed by bin number; bins outside 0 to 1023 are not written.
    // Returns m_bOverload.
    int32_t GetSpectrum(int32_t first, int32_t last, int32_t* out) const;

    std::atomic<int32_t> m_bOverload;
    int32_t m_bLogScale;
    int32_t m_bLastLogScale;
    int32_t m_nLastAverage;
    int32_t m_nAverage;
    double m_dScale;
    double m_dFloor;
    // 512 twiddle values (256 complex, in bit-reversed order), 512 cosine values, a spare.
    double* m_pTables;
    // Hann window over 2048 slots (and a spare).
    double* m_pWindow;
    // Bin k in slot 2k; odd slots and slot 2048 stay 0.
    double* m_pSpectrum;
    // The block in place: windowed samples, then the packed transform. After
    // Process, bin k (1 to 1023) is m_pWork[2k] + i m_pWork[2k+1] and slot 0
    // holds bin 0's power.
    double* m_pWork;
    // [0] twiddle count (512), [1] cosine count (512), [2..48] bit-reversal scratch.
    int32_t* m_pBitReverse;

private:
    // The real-split pass over the packed transform in m_pWork, each bin's
    // power updating its spectrum slot as it comes out.
    void SplitAndUpdate();
    // Smooths one slot towards the level of this block's power.
    void UpdateSlot(int slot, double power);
};
