#include "spectrum/CDFT.h"

#include "util/Truncate.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <utility>

#include "spectrum/DFTKernel.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

constexpr int kSamples = 2048;
constexpr int kBins = 1024;
constexpr size_t kBlockSlots = 2049;  // the last one spare
constexpr size_t kTableSlots = 1025;  // the last one spare
constexpr int kTwiddleValues = 512;
constexpr int kCosineValues = 512;
constexpr size_t kBitReverseSlots = 49;
// Whole cache lines for the widest vectors.
constexpr std::align_val_t kAlignment{64};
// Beyond this output multiplier the fast log10 is not used (its check needs
// scaled levels well below 2^51).
constexpr double kFastScaleLimit = 0x1p20;

double* AllocateZeroed(size_t count)
{
    auto* values = static_cast<double*>(::operator new(count * sizeof(double), kAlignment));
    std::fill_n(values, count, 0.0);
    return values;
}

void Free(double*& values)
{
    ::operator delete(values, kAlignment);
    values = nullptr;
}

// Puts 256 complex values into bit-reversed order: with the indices as 16 x 16
// (p = 16 x + rev(y)), p belongs at 16 y + rev(x), so swapping for every y < x
// exchanges each pair once.
void BitReverseTwiddles(double* values, int32_t* reverse)
{
    constexpr int kSide = 16;
    FillBitReverseTable(reverse, 4);
    for (int x = 1; x < kSide; ++x) {
        for (int y = 0; y < x; ++y) {
            double* p = values + 2 * (kSide * x + reverse[y]);
            double* q = values + 2 * (kSide * y + reverse[x]);
            std::swap(p[0], q[0]);
            std::swap(p[1], q[1]);
        }
    }
}

// 256 complex values e^(i j pi/512), j = 0 to 255, in bit-reversed order.
void BuildTwiddles(double* twiddles, int32_t* bitReverse)
{
    bitReverse[0] = kTwiddleValues;
    const int half = kTwiddleValues / 2;
    const double delta = std::atan(1.0) / half;
    twiddles[0] = 1;
    twiddles[1] = 0;
    twiddles[half] = std::cos(delta * half);
    twiddles[half + 1] = twiddles[half];
    for (int j = 2; j < half; j += 2) {
        const double x = std::cos(delta * j);
        const double y = std::sin(delta * j);
        twiddles[j] = x;
        twiddles[j + 1] = y;
        twiddles[kTwiddleValues - j] = y;
        twiddles[kTwiddleValues - j + 1] = x;
    }
    BitReverseTwiddles(twiddles, bitReverse + 2);
}

// Half the cosines and sines of j pi/1024, for the real-split pass.
void BuildCosines(double* cosines, int32_t* bitReverse)
{
    bitReverse[1] = kCosineValues;
    const int half = kCosineValues / 2;
    const double delta = std::atan(1.0) / half;
    cosines[0] = std::cos(delta * half);
    cosines[half] = 0.5 * cosines[0];
    for (int j = 1; j < half; ++j) {
        cosines[j] = 0.5 * std::cos(delta * j);
        cosines[kCosineValues - j] = 0.5 * std::sin(delta * j);
    }
}

// Symmetric Hann window: 2 pi and 1/2047.
void BuildWindow(double* window)
{
    for (int k = 0; k < kSamples; ++k)
        window[k] = 0.5 - 0.5 * std::cos(6.283185307179584 * k * 0.0004885197850512946);
}

}  // namespace

CDFT::CDFT()
    : m_bOverload(0),
      m_bLogScale(0),
      m_bLastLogScale(0),
      m_nLastAverage(0),
      m_nAverage(0),
      m_dScale(0.0),
      m_dFloor(0.0),
      m_pTables(nullptr),
      m_pWindow(nullptr),
      m_pSpectrum(nullptr),
      m_pWork(nullptr),
      m_pBitReverse(nullptr)
{
    m_pWindow = AllocateZeroed(kBlockSlots);
    m_pTables = AllocateZeroed(kTableSlots);
    m_pBitReverse = new int32_t[kBitReverseSlots]();
    m_pSpectrum = AllocateZeroed(kBlockSlots);
    m_pWork = AllocateZeroed(kBlockSlots);
    BuildTwiddles(m_pTables, m_pBitReverse);
    BuildCosines(m_pTables + kTwiddleValues, m_pBitReverse);
    BuildWindow(m_pWindow);

    m_dFloor = 0.0;
    m_nLastAverage = 0;
    m_bLastLogScale = 0;
    m_bLogScale = 1;
    m_nAverage = 1;
    Clear();
    m_nLastAverage = m_nAverage;
    m_bLastLogScale = m_bLogScale;
    m_dScale = 100.0 / (10.0 - m_dFloor);
    m_bOverload = 0;
}

CDFT::~CDFT()
{
    delete[] m_pBitReverse;
    m_pBitReverse = nullptr;
    Free(m_pTables);
    Free(m_pWindow);
    Free(m_pSpectrum);
    Free(m_pWork);
}

void CDFT::Configure(int32_t count, double gain, int32_t scaleMode)
{
    if (scaleMode == 0) {
        m_bLogScale = 0;
        m_dFloor = 0.0;
    } else {
        m_bLogScale = 1;
        m_dFloor = scaleMode >= 10 && scaleMode <= 99 ? scaleMode * 0.1 : 0.0;
    }
    m_nAverage = count >= 1 ? count : 1;
    if (count != m_nLastAverage || m_bLogScale != m_bLastLogScale)
        Clear();
    m_bLastLogScale = m_bLogScale;
    m_nLastAverage = m_nAverage;
    m_dScale = gain * 10.0 / (10.0 - m_dFloor);
}

void CDFT::Clear()
{
    for (int slot = 0; slot < kSamples; ++slot)
        StoreSlot(m_pSpectrum[slot], 0.0);
}

void CDFT::Process(const double* samples)
{
    m_bOverload = 0;
    if (ChosenDFTKernel().process(DescribeBlock(*this, samples)))
        m_bOverload = 1;
}

int32_t CDFT::GetSpectrum(int32_t first, int32_t last, int32_t* out) const
{
    const int32_t end = std::min(last, kBins - 1);
    for (int32_t bin = std::max(first, 0); bin <= end; ++bin)
        out[bin] = TruncateToInt32(LoadSlot(m_pSpectrum[2 * bin]) * m_dScale);
    return m_bOverload;
}

DFTBlock DescribeBlock(CDFT& engine, const double* samples)
{
    const int32_t average = engine.m_nAverage;
    const bool fastLog = engine.m_bLogScale && average == 1 && std::fabs(engine.m_dScale) <= kFastScaleLimit;
    const SlotRule rule{
        .logScale = engine.m_bLogScale != 0,
        .floor = engine.m_dFloor,
        .keep = 1.0 - 1.0 / average,
        .share = 1.0 / average,
        .fastScale = fastLog ? engine.m_dScale : 0.0,
    };
    return {samples, engine.m_pWindow, engine.m_pTables, engine.m_pBitReverse + 2, engine.m_pWork, engine.m_pSpectrum,
            rule};
}
