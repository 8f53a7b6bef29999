// Plain C++ on purpose: four 2048-sample blocks a second cost a few hundred
// microseconds, and every value is computed in the order written here, so the
// integers handed out are those of the std::log10 arithmetic on every processor.
// The file is compiled without fused multiply-adds (see module/CMakeLists.txt).
#include "spectrum/CDFT.h"

#include <cmath>
#include <utility>

#include "util/Truncate.h"

namespace {

constexpr int kSamples = 2048;
constexpr int kBins = 1024;
constexpr int kPoints = kSamples / 2;  // complex values of the packed transform
constexpr int kBlockSlots = kSamples + 1;
constexpr int kTwiddleValues = 512;  // 256 complex values
constexpr int kCosineValues = 512;
constexpr int kTableSlots = kTwiddleValues + kCosineValues + 1;
constexpr int kBitReverseSlots = 49;
// The index tables of the two bit reversals: 1024 points as 32 x 32, and the
// 256 twiddles as 16 x 16.
constexpr int kPointSide = 32;
constexpr int kTwiddleSide = 16;

// 0.9 of full scale; the test is strict and looks at positive samples only.
constexpr double kOverloadLevel = 29491.2;
// The symmetric Hann window: 2 pi, and 1 / 2047.
constexpr double kTwoPi = 6.283185307179584;
constexpr double kInverseWindowSpan = 0.0004885197850512946;
// Log scale: L = log10(P + kPowerOffset) - kLogOffset - floor, a hair above 0
// for P = 0 with floor 0.
constexpr double kPowerOffset = 28145.8;
constexpr double kLogOffset = 4.4494132;
// Linear scale: 1 / 289.626 times the square root of the magnitude.
constexpr double kLinearScale = 0.0034527286914848806;
// The default gain, and the output of a power ten decades above the floor per unit of gain.
constexpr double kDefaultGain = 10.0;
constexpr double kDecadesToTop = 10.0;
// Scale modes 10 to 99 set a floor of a tenth of the mode, in decades.
constexpr int32_t kFirstFloorMode = 10;
constexpr int32_t kLastFloorMode = 99;
constexpr double kFloorPerMode = 0.1;

// Spectrum slots are read by other threads without a lock: single relaxed
// atomic stores and loads.
void StoreSlot(double& slot, double value) { std::atomic_ref<double>(slot).store(value, std::memory_order_relaxed); }

double LoadSlot(const double& slot)
{
    return std::atomic_ref<double>(const_cast<double&>(slot)).load(std::memory_order_relaxed);
}

// table[i] = i with its lowest `bits` bits in reverse order, for i < 2^bits.
void FillBitReverseTable(int32_t* table, int bits)
{
    table[0] = 0;
    for (int filled = 1, step = 1 << bits; filled < 1 << bits; filled <<= 1) {
        step >>= 1;
        for (int j = 0; j < filled; ++j)
            table[filled + j] = table[j] + step;
    }
}

void SwapComplex(double* values, int p, int q)
{
    std::swap(values[2 * p], values[2 * q]);
    std::swap(values[2 * p + 1], values[2 * q + 1]);
}

// Puts side * side complex values into bit-reversed order: with an index as
// p = side x + y, rev(p) = side rev(y) + rev(x), so one swap per pair.
void BitReverse(double* values, int32_t* reverse, int bits)
{
    const int side = 1 << bits;
    FillBitReverseTable(reverse, bits);
    for (int x = 0; x < side; ++x) {
        for (int y = 0; y < side; ++y) {
            const int p = side * x + y;
            const int q = side * reverse[y] + reverse[x];
            if (p < q)
                SwapComplex(values, p, q);
        }
    }
}

// 256 complex values e^(i j pi/512), j = 0 to 255, in bit-reversed order.
void BuildTwiddles(double* t, int32_t* bitReverse)
{
    bitReverse[0] = kTwiddleValues;
    const int half = kTwiddleValues / 2;
    const double delta = std::atan(1.0) / half;
    t[0] = 1;
    t[1] = 0;
    t[half] = std::cos(delta * half);
    t[half + 1] = t[half];
    for (int j = 2; j < half; j += 2) {
        const double x = std::cos(delta * j);
        const double y = std::sin(delta * j);
        t[j] = x;
        t[j + 1] = y;
        t[kTwiddleValues - j] = y;
        t[kTwiddleValues - j + 1] = x;
    }
    BitReverse(t, bitReverse + 2, 4);
}

// Half the cosines and sines of j pi/1024, for the real-split pass.
void BuildCosines(double* c, int32_t* bitReverse)
{
    bitReverse[1] = kCosineValues;
    const int half = kCosineValues / 2;
    const double delta = std::atan(1.0) / half;
    c[0] = std::cos(delta * half);
    c[half] = 0.5 * c[0];
    for (int j = 1; j < half; ++j) {
        c[j] = 0.5 * std::cos(delta * j);
        c[kCosineValues - j] = 0.5 * std::sin(delta * j);
    }
}

struct Complex {
    double re;
    double im;
};

Complex Load(const double* a, int slot) { return {a[slot], a[slot + 1]}; }

void Store(double* a, int slot, Complex z)
{
    a[slot] = z.re;
    a[slot + 1] = z.im;
}

Complex Add(Complex x, Complex y) { return {x.re + y.re, x.im + y.im}; }
Complex Subtract(Complex x, Complex y) { return {x.re - y.re, x.im - y.im}; }
// x + i y and x - i y.
Complex AddTurned(Complex x, Complex y) { return {x.re - y.im, x.im + y.re}; }
Complex SubtractTurned(Complex x, Complex y) { return {x.re + y.im, x.im - y.re}; }
Complex Multiply(Complex x, Complex w) { return {x.re * w.re - x.im * w.im, x.im * w.re + x.re * w.im}; }

// The turns of block b of a stage: w1 = twiddle b, w2 = w1^2 (twiddle b/2,
// times i for odd b, since the table is in bit-reversed order), w3 = w1 w2.
struct BlockTurns {
    Complex w1, w2, w3;
};

BlockTurns TurnsOfBlock(const double* t, int b)
{
    const Complex w1 = Load(t, 2 * b);
    const Complex half = Load(t, 2 * (b / 2));
    const Complex w2 = b % 2 == 0 ? half : Complex{-half.im, half.re};
    const Complex w3 = {w1.re - 2.0 * w2.im * w1.im, 2.0 * w2.im * w1.re - w1.im};
    return {w1, w2, w3};
}

// One radix-4 stage over blocks of 4 * span complex values. Block 0 needs no
// turns; the others turn their last three outputs.
void RadixFourStage(double* a, const double* t, int span)
{
    const int quarter = 2 * span;
    for (int b = 0; b < kPoints / (4 * span); ++b) {
        double* block = a + 4 * quarter * b;
        const BlockTurns w = TurnsOfBlock(t, b);
        for (int j = 0; j < quarter; j += 2) {
            const int j1 = j + quarter;
            const int j2 = j1 + quarter;
            const int j3 = j2 + quarter;
            const Complex x0 = Add(Load(block, j), Load(block, j1));
            const Complex x1 = Subtract(Load(block, j), Load(block, j1));
            const Complex x2 = Add(Load(block, j2), Load(block, j3));
            const Complex x3 = Subtract(Load(block, j2), Load(block, j3));
            Store(block, j, Add(x0, x2));
            if (b == 0) {
                Store(block, j1, AddTurned(x1, x3));
                Store(block, j2, Subtract(x0, x2));
                Store(block, j3, SubtractTurned(x1, x3));
            } else {
                Store(block, j1, Multiply(AddTurned(x1, x3), w.w1));
                Store(block, j2, Multiply(Subtract(x0, x2), w.w2));
                Store(block, j3, Multiply(SubtractTurned(x1, x3), w.w3));
            }
        }
    }
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
    m_pWindow = new double[kBlockSlots]();
    m_pTables = new double[kTableSlots]();
    m_pBitReverse = new int32_t[kBitReverseSlots]();
    m_pSpectrum = new double[kBlockSlots]();
    m_pWork = new double[kBlockSlots]();
    BuildTwiddles(m_pTables, m_pBitReverse);
    BuildCosines(m_pTables + kTwiddleValues, m_pBitReverse);
    for (int k = 0; k < kSamples; ++k)
        m_pWindow[k] = 0.5 - 0.5 * std::cos(kTwoPi * k * kInverseWindowSpan);

    m_dFloor = 0.0;
    m_nLastAverage = 0;
    m_bLastLogScale = 0;
    m_bLogScale = 1;
    m_nAverage = 1;
    Clear();
    m_nLastAverage = m_nAverage;
    m_bLastLogScale = m_bLogScale;
    m_dScale = kDefaultGain * kDecadesToTop / (kDecadesToTop - m_dFloor);
    m_bOverload = 0;
}

CDFT::~CDFT()
{
    delete[] std::exchange(m_pBitReverse, nullptr);
    delete[] std::exchange(m_pTables, nullptr);
    delete[] std::exchange(m_pWindow, nullptr);
    delete[] std::exchange(m_pSpectrum, nullptr);
    delete[] std::exchange(m_pWork, nullptr);
}

void CDFT::Configure(int32_t count, double gain, int32_t scaleMode)
{
    if (scaleMode == 0) {
        m_bLogScale = 0;
        m_dFloor = 0.0;
    } else {
        m_bLogScale = 1;
        m_dFloor = scaleMode >= kFirstFloorMode && scaleMode <= kLastFloorMode ? scaleMode * kFloorPerMode : 0.0;
    }
    m_nAverage = count >= 1 ? count : 1;
    if (count != m_nLastAverage || m_bLogScale != m_bLastLogScale)
        Clear();
    m_bLastLogScale = m_bLogScale;
    m_nLastAverage = m_nAverage;
    m_dScale = gain * kDecadesToTop / (kDecadesToTop - m_dFloor);
}

void CDFT::Clear()
{
    for (int slot = 0; slot < kSamples; ++slot)
        StoreSlot(m_pSpectrum[slot], 0.0);
}

void CDFT::Process(const double* samples)
{
    m_bOverload = 0;
    double* a = m_pWork;
    for (int k = 0; k < kSamples; ++k) {
        if (samples[k] > kOverloadLevel)
            m_bOverload = 1;
        a[k] = m_pWindow[k] * samples[k];
    }
    BitReverse(a, m_pBitReverse + 2, 5);
    const double* twiddles = m_pTables;
    for (int span = 1; span <= kPoints / 4; span *= 4)
        RadixFourStage(a, twiddles, span);
    SplitAndUpdate();
}

// The real-split pass: bins j/2 and 1024 - j/2 come out of the packed
// transform, and their powers update the spectrum at once.
void CDFT::SplitAndUpdate()
{
    double* a = m_pWork;
    const double* c = m_pTables + m_pBitReverse[0];
    const int nc = m_pBitReverse[1];
    const int ks = 4 * nc / kSamples;
    int kk = 0;
    for (int j = 2; j < kSamples / 2; j += 2) {
        const int k = kSamples - j;
        kk += ks;
        const double wkr = 0.5 - c[nc - kk];
        const double wki = c[kk];
        const double xr = a[j] - a[k];
        const double xi = a[j + 1] + a[k + 1];
        const double yr = wkr * xr - wki * xi;
        const double yi = wkr * xi + wki * xr;
        a[j] -= yr;
        a[j + 1] -= yi;
        a[k] += yr;
        a[k + 1] -= yi;
        UpdateSlot(j, a[j] * a[j] + a[j + 1] * a[j + 1]);
        UpdateSlot(k, a[k] * a[k] + a[k + 1] * a[k + 1]);
    }
    // Bin 0 is the square of the even positions' sum alone.
    a[0] = a[0] * a[0];
    UpdateSlot(0, a[0]);
    UpdateSlot(kPoints, a[kPoints] * a[kPoints] + a[kPoints + 1] * a[kPoints + 1]);
}

void CDFT::UpdateSlot(int slot, double power)
{
    const double share = 1.0 / m_nAverage;
    const double kept = LoadSlot(m_pSpectrum[slot]) * (1.0 - share);
    if (m_bLogScale) {
        const double level = std::log10(power + kPowerOffset) - kLogOffset - m_dFloor;
        StoreSlot(m_pSpectrum[slot], level < 0.0 ? kept : kept + level * share);
    } else {
        StoreSlot(m_pSpectrum[slot], kept + std::sqrt(std::sqrt(power)) * kLinearScale * share);
    }
}

int32_t CDFT::GetSpectrum(int32_t first, int32_t last, int32_t* out) const
{
    for (int32_t bin = first < 0 ? 0 : first; bin <= last && bin < kBins; ++bin)
        out[bin] = TruncateToInt32(LoadSlot(m_pSpectrum[2 * bin]) * m_dScale);
    return m_bOverload;
}
