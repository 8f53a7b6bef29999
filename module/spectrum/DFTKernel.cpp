// The block transform for each vector width. No multiply may be fused with an
// add: the versions must round alike, and a bin's power must be exactly
// re * re + im * im of the values left in the work buffer.
#pragma GCC optimize("fp-contract=off")
// Vectors pass between forced-inline helpers only, never across a call.
#pragma GCC diagnostic ignored "-Wpsabi"

#include "spectrum/DFTKernel.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "spectrum/CDFT.h"
#include "spectrum/FastLog10.h"
#include "spectrum/Lanes.h"

namespace {

constexpr int kSamples = 2048;
constexpr int kPoints = 1024;  // complex values of the packed transform
constexpr int kCosines = 512;
constexpr int kTwiddleDoubles = 512;
constexpr double kOverloadLevel = 29491.2;
constexpr double kPowerOffset = 28145.8;
constexpr double kLogOffset = 4.4494132;
constexpr double kLinearScale = 0.0034527286914848806;
// The vector part of the split pass takes bins 1 to 504 and their mirrors at
// the full width (a whole number of vectors at every width), 505 to 508 four at
// a time; the edges are done one by one.
constexpr int kSplitWideEnd = 505;
constexpr int kSplitVectorEnd = 509;
// Rounds to the nearest integer by addition, for magnitudes below 2^51.
constexpr double kRoundingBias = 0x1.8p52;
// Bound on how far the fast path's scaled level may lie from the std::log10
// path's, per unit of |scale| * log10(P + 28145.8) = |scale| h. FastLog10 errs by
// at most 1e-14 + 2^-50 h < 2^-48 h (h >= 4.449); std::log10 is taken to err by
// at most 2^-48 h, 8 times the 2 units in the last place that glibc states; the
// subtractions and the product of either path add less than 2^-49 h. The
// margin is a factor of 100.
constexpr double kFastTolerancePerScale = 0x1p-40;
// Powers from here up (and NaN) always take the std::log10 path.
constexpr double kFastPowerLimit = 0x1p1000;

template <int V>
struct Twiddle {
    typename Lanes<V>::D re;  // w.re in every lane
    typename Lanes<V>::D im;  // -w.im, w.im, ...
};

template <int V>
struct BlockTwiddles {
    Twiddle<V> w1, w2, w3;
};

template <int V>
[[gnu::always_inline]] inline typename Lanes<V>::D Multiply(const typename Lanes<V>::D& x, const Twiddle<V>& w)
{
    return x * w.re + Lanes<V>::SwapPairs(x) * w.im;
}

// Block b of every stage turns with w1 = twiddle b, w2 = w1^2 (twiddle b/2, times
// i for odd b, since the table is in bit-reversed order) and w3 = w1 * w2.
template <int V>
[[gnu::always_inline]] inline BlockTwiddles<V> TwiddlesOfBlock(const double* twiddles, int b)
{
    using L = Lanes<V>;
    const double w1r = twiddles[2 * b];
    const double w1i = twiddles[2 * b + 1];
    const double* half = twiddles + 2 * (b / 2);
    const double w2r = b % 2 == 0 ? half[0] : -half[1];
    const double w2i = b % 2 == 0 ? half[1] : half[0];
    const double w3r = w1r - 2.0 * w2i * w1i;
    const double w3i = 2.0 * w2i * w1r - w1i;
    return {{L::Splat(w1r), L::Alternate(-w1i, w1i)},
            {L::Splat(w2r), L::Alternate(-w2i, w2i)},
            {L::Splat(w3r), L::Alternate(-w3i, w3i)}};
}

// Radix-4 butterfly on four vectors a quarter block apart, the outputs turned
// by the block's twiddles (or not, in block 0).
template <int V, bool kTurn>
[[gnu::always_inline]] inline void Butterfly(typename Lanes<V>::D u[4], const BlockTwiddles<V>& w)
{
    using L = Lanes<V>;
    using D = typename L::D;
    const D x0 = u[0] + u[1];
    const D x1 = u[0] - u[1];
    const D x2 = u[2] + u[3];
    const D x3 = u[2] - u[3];
    const D ix3 = L::SwapPairs(x3) * L::Alternate(-1.0, 1.0);
    u[0] = x0 + x2;
    if constexpr (kTurn) {
        u[1] = Multiply(x1 + ix3, w.w1);
        u[2] = Multiply(x0 - x2, w.w2);
        u[3] = Multiply(x1 - ix3, w.w3);
    } else {
        u[1] = x1 + ix3;
        u[2] = x0 - x2;
        u[3] = x1 - ix3;
    }
}

template <int V, bool kTurn>
[[gnu::always_inline]] inline void ButterflyBlock(double* block, int span, const BlockTwiddles<V>& w)
{
    using L = Lanes<V>;
    const int quarter = 2 * span;
    for (int j = 0; j < quarter; j += V) {
        typename L::D u[4];
#pragma GCC unroll 4
        for (int r = 0; r < 4; ++r)
            u[r] = L::Load(block + j + r * quarter);
        Butterfly<V, kTurn>(u, w);
#pragma GCC unroll 4
        for (int r = 0; r < 4; ++r)
            L::Store(block + j + r * quarter, u[r]);
    }
}

// One radix-4 stage over blocks of 4 * span complex values; span is at least
// one vector of complex values.
template <int V>
[[gnu::always_inline]] inline void Stage(double* a, const double* twiddles, int span)
{
    ButterflyBlock<V, false>(a, span, BlockTwiddles<V>{});
    for (int b = 1; b < kPoints / (4 * span); ++b)
        ButterflyBlock<V, true>(a + 8 * span * b, span, TwiddlesOfBlock<V>(twiddles, b));
}

// Four consecutive groups of four complex values (two for V = 4), rearranged so
// that vector r holds element r of every group; ButterfliesToGroups puts them
// back.
template <int V>
[[gnu::always_inline]] inline void GroupsToButterflies(typename Lanes<V>::D v[4])
{
    using D = typename Lanes<V>::D;
    if constexpr (V == 4) {
        const D u0 = __builtin_shufflevector(v[0], v[2], 0, 1, 4, 5);
        const D u1 = __builtin_shufflevector(v[0], v[2], 2, 3, 6, 7);
        const D u2 = __builtin_shufflevector(v[1], v[3], 0, 1, 4, 5);
        const D u3 = __builtin_shufflevector(v[1], v[3], 2, 3, 6, 7);
        v[0] = u0, v[1] = u1, v[2] = u2, v[3] = u3;
    } else {
        const D t0 = __builtin_shufflevector(v[0], v[1], 0, 1, 8, 9, 2, 3, 10, 11);
        const D t1 = __builtin_shufflevector(v[0], v[1], 4, 5, 12, 13, 6, 7, 14, 15);
        const D t2 = __builtin_shufflevector(v[2], v[3], 0, 1, 8, 9, 2, 3, 10, 11);
        const D t3 = __builtin_shufflevector(v[2], v[3], 4, 5, 12, 13, 6, 7, 14, 15);
        v[0] = __builtin_shufflevector(t0, t2, 0, 1, 2, 3, 8, 9, 10, 11);
        v[1] = __builtin_shufflevector(t0, t2, 4, 5, 6, 7, 12, 13, 14, 15);
        v[2] = __builtin_shufflevector(t1, t3, 0, 1, 2, 3, 8, 9, 10, 11);
        v[3] = __builtin_shufflevector(t1, t3, 4, 5, 6, 7, 12, 13, 14, 15);
    }
}

template <int V>
[[gnu::always_inline]] inline void ButterfliesToGroups(typename Lanes<V>::D u[4])
{
    using D = typename Lanes<V>::D;
    if constexpr (V == 4) {
        const D v0 = __builtin_shufflevector(u[0], u[1], 0, 1, 4, 5);
        const D v2 = __builtin_shufflevector(u[0], u[1], 2, 3, 6, 7);
        const D v1 = __builtin_shufflevector(u[2], u[3], 0, 1, 4, 5);
        const D v3 = __builtin_shufflevector(u[2], u[3], 2, 3, 6, 7);
        u[0] = v0, u[1] = v1, u[2] = v2, u[3] = v3;
    } else {
        GroupsToButterflies<V>(u);
    }
}

// The twiddles of blocks b0 to b0 + kComplex - 1, one block per complex lane,
// with the arithmetic of TwiddlesOfBlock lane by lane.
template <int V>
[[gnu::always_inline]] inline BlockTwiddles<V> TwiddlesOfBlocks(const double* twiddles, int b0)
{
    using L = Lanes<V>;
    using D = typename L::D;
    const D negateReal = L::Alternate(-1.0, 1.0);
    const D w1 = L::Load(twiddles + 2 * b0);
    const D half = L::LoadComplexDoubled(twiddles + b0);
    const D w2 = L::AlternateComplex(half, L::SwapPairs(half) * negateReal);
    const D w1r = L::RealParts(w1);
    const D w1i = L::ImagParts(w1);
    const D w2r = L::RealParts(w2);
    const D w2i = L::ImagParts(w2);
    const D w3r = w1r - 2.0 * w2i * w1i;
    const D w3i = 2.0 * w2i * w1r - w1i;
    return {{w1r, w1i * negateReal}, {w2r, w2i * negateReal}, {w3r, w3i * negateReal}};
}

// The stage of span 1: each block is four neighbouring complex values, so
// wider vectors take kComplex blocks at once, one per complex lane.
template <int V>
[[gnu::always_inline]] inline void FirstStage(double* a, const double* twiddles)
{
    using L = Lanes<V>;
    if constexpr (V == 2) {
        Stage<V>(a, twiddles, 1);
    } else {
        for (int b0 = 0; b0 < kPoints / 4; b0 += L::kComplex) {
            double* groups = a + 8 * b0;
            typename L::D u[4];
#pragma GCC unroll 4
            for (int r = 0; r < 4; ++r)
                u[r] = L::Load(groups + r * V);
            GroupsToButterflies<V>(u);
            Butterfly<V, true>(u, TwiddlesOfBlocks<V>(twiddles, b0));
            ButterfliesToGroups<V>(u);
#pragma GCC unroll 4
            for (int r = 0; r < 4; ++r)
                L::Store(groups + r * V, u[r]);
        }
    }
}

// kComplex rows of kComplex complex values each, transposed.
template <int V>
[[gnu::always_inline]] inline void TransposeComplex(typename Lanes<V>::D rows[])
{
    using D = typename Lanes<V>::D;
    if constexpr (V == 4) {
        const D first = __builtin_shufflevector(rows[0], rows[1], 0, 1, 4, 5);
        rows[1] = __builtin_shufflevector(rows[0], rows[1], 2, 3, 6, 7);
        rows[0] = first;
    } else if constexpr (V == 8) {
        GroupsToButterflies<V>(rows);
    }
}

// work = window * samples, the complex values put into bit-reversed order on
// the way; returns whether a sample lay above the overload level. With the 1024
// indices as 32 x 32 (p = 32 h + l), p goes to 32 rev(l) + rev(h): kComplex rows
// h with consecutive rev(h), read kComplex columns at a time and transposed,
// land as whole vectors.
template <int V>
[[gnu::always_inline]] inline bool WindowReordered(const double* samples, const double* window, double* work,
                                                   int32_t* reverse)
{
    using L = Lanes<V>;
    constexpr int kComplex = L::kComplex;
    constexpr int kSide = 32;
    FillBitReverseTable(reverse, 5);
    typename L::D peak = L::Splat(-HUGE_VAL);
    for (int c = 0; c < kSide; c += kComplex) {
        int rowStart[kComplex];
#pragma GCC unroll 4
        for (int k = 0; k < kComplex; ++k)
            rowStart[k] = 2 * kSide * reverse[c + k];
        for (int column = 0; column < kSide; column += kComplex) {
            typename L::D rows[kComplex];
#pragma GCC unroll 4
            for (int k = 0; k < kComplex; ++k) {
                const int source = rowStart[k] + 2 * column;
                const typename L::D x = L::Load(samples + source);
                peak = L::Max(x, peak);
                rows[k] = L::Load(window + source) * x;
            }
            TransposeComplex<V>(rows);
#pragma GCC unroll 4
            for (int i = 0; i < kComplex; ++i)
                L::Store(work + 2 * (kSide * reverse[column + i] + c), rows[i]);
        }
    }
    return L::Largest(peak) > kOverloadLevel;
}

// Where the fast log10 left bins in doubt: margins by split step kk for bin kk
// and for bin 1024 - kk (not positive: in doubt), and the smallest of them.
struct Doubts {
    double lower[kSplitVectorEnd];
    double upper[kSplitVectorEnd];
    double lowest = HUGE_VAL;
};

// The spectrum values of V bins after a block with these powers, by way of the
// fast log10. A lane whose scaled level lies too near an integer for both paths
// to be sure to truncate alike keeps its value, and its margin is not positive.
template <int V>
[[gnu::always_inline]] inline typename Lanes<V>::D UpdateFast(const typename Lanes<V>::D& power,
                                                              const typename Lanes<V>::D& before, const SlotRule& rule,
                                                              double tolerance, typename Lanes<V>::D& margin)
{
    using L = Lanes<V>;
    using D = typename L::D;
    const D u = power + kPowerOffset;
    const D h = FastLog10<V>(u);
    const D level = h - (kLogOffset + rule.floor);
    const D scaled = level * rule.fastScale;
    const D nearest = (scaled + kRoundingBias) - kRoundingBias;
    // Below the power limit every value here is finite.
    margin = u < kFastPowerLimit ? L::Abs(scaled - nearest) - h * tolerance : L::Splat(-1.0);
    const D kept = before * rule.keep;
    const D updated = level < 0.0 ? kept : kept + level * rule.share;
    return margin > 0.0 ? updated : before;
}

// Split steps kk = first to last - 1, V at a time: bins kk and 1024 - kk come
// out of the packed transform, and their powers update the spectrum. Real and
// imaginary parts go to separate vectors, so the arithmetic needs no shuffles.
template <int V, bool kFastLog>
[[gnu::always_inline]] inline void SplitRange(double* a, const double* cosines, double* spectrum, const SlotRule& rule,
                                              int first, int last, Doubts& doubts)
{
    using L = Lanes<V>;
    using D = typename L::D;
    const double tolerance = std::fabs(rule.fastScale) * kFastTolerancePerScale;
    D lowest = L::Splat(doubts.lowest);
    for (int kk = first; kk < last; kk += V) {
        // Bins 1024 - kk down to 1024 - kk - V + 1, lane by lane.
        const int mirror = kPoints - kk - (V - 1);
        double* lower = a + 2 * kk;
        double* upper = a + 2 * mirror;
        const D lowerFirst = L::Load(lower);
        const D lowerSecond = L::Load(lower + V);
        const D upperFirst = L::Load(upper);
        const D upperSecond = L::Load(upper + V);
        const D jr = L::EvenLanes(lowerFirst, lowerSecond);
        const D ji = L::OddLanes(lowerFirst, lowerSecond);
        const D kr = L::EvenLanesReversed(upperFirst, upperSecond);
        const D ki = L::OddLanesReversed(upperFirst, upperSecond);
        const D wkr = 0.5 - L::Reverse(L::Load(cosines + kCosines - kk - (V - 1)));
        const D wki = L::Load(cosines + kk);
        const D xr = jr - kr;
        const D xi = ji + ki;
        const D yr = wkr * xr - wki * xi;
        const D yi = wkr * xi + wki * xr;
        const D jrOut = jr - yr;
        const D jiOut = ji - yi;
        const D krOut = kr + yr;
        const D kiOut = ki - yi;
        L::Store(lower, L::InterleaveLow(jrOut, jiOut));
        L::Store(lower + V, L::InterleaveHigh(jrOut, jiOut));
        L::Store(upper, L::InterleaveHighReversed(krOut, kiOut));
        L::Store(upper + V, L::InterleaveLowReversed(krOut, kiOut));
        const D lowerPower = jrOut * jrOut + jiOut * jiOut;
        const D upperPower = krOut * krOut + kiOut * kiOut;
        if constexpr (kFastLog) {
            const double* lowerSlots = spectrum + 2 * kk;
            const double* upperSlots = spectrum + 2 * mirror;
            D lowerMargin;
            D upperMargin;
            const D lowerAfter = UpdateFast<V>(lowerPower, L::EvenLanes(L::Load(lowerSlots), L::Load(lowerSlots + V)),
                                               rule, tolerance, lowerMargin);
            const D upperAfter =
                UpdateFast<V>(upperPower, L::EvenLanesReversed(L::Load(upperSlots), L::Load(upperSlots + V)), rule,
                              tolerance, upperMargin);
#pragma GCC unroll 8
            for (int lane = 0; lane < V; ++lane) {
                StoreSlot(spectrum[2 * (kk + lane)], lowerAfter[lane]);
                StoreSlot(spectrum[2 * (kPoints - kk - lane)], upperAfter[lane]);
            }
            L::Store(doubts.lower + kk, lowerMargin);
            L::Store(doubts.upper + kk, upperMargin);
            lowest = L::Min(lowest, L::Min(lowerMargin, upperMargin));
        } else {
#pragma GCC unroll 8
            for (int lane = 0; lane < V; ++lane) {
                UpdateSlot(spectrum[2 * (kk + lane)], lowerPower[lane], rule);
                UpdateSlot(spectrum[2 * (kPoints - kk - lane)], upperPower[lane], rule);
            }
        }
    }
    if constexpr (kFastLog)
        doubts.lowest = L::Smallest(lowest);
}

// The bins the fast log10 left in doubt, on the std::log10 path; their slots
// still hold the previous block's values.
void ResolveDoubts(const Doubts& doubts, const double* a, double* spectrum, const SlotRule& rule)
{
    auto resolve = [&](int slot) { UpdateSlot(spectrum[slot], a[slot] * a[slot] + a[slot + 1] * a[slot + 1], rule); };
    for (int kk = 1; kk < kSplitVectorEnd; ++kk) {
        if (!(doubts.lower[kk] > 0.0))
            resolve(2 * kk);
        if (!(doubts.upper[kk] > 0.0))
            resolve(2 * (kPoints - kk));
    }
}

// The vector part of the split pass: the full width up to kSplitWideEnd, then
// at most 4 lanes. The fast path defers its doubts to the end, so no step waits
// on a decision.
template <int V, bool kFastLog>
[[gnu::always_inline]] inline void SplitVectors(double* a, const double* cosines, double* spectrum,
                                                const SlotRule& rule)
{
    constexpr int kNarrow = V < 4 ? V : 4;
    Doubts doubts;
    SplitRange<V, kFastLog>(a, cosines, spectrum, rule, 1, kSplitWideEnd, doubts);
    SplitRange<kNarrow, kFastLog>(a, cosines, spectrum, rule, kSplitWideEnd, kSplitVectorEnd, doubts);
    if (kFastLog && !(doubts.lowest > 0.0))
        ResolveDoubts(doubts, a, spectrum, rule);
}

// The split steps the vectors leave, then bin 0 (the even samples' sum only)
// and bin 512.
void SplitEdges(double* a, const double* cosines, double* spectrum, const SlotRule& rule)
{
    for (int kk = kSplitVectorEnd; kk < kPoints / 2; ++kk) {
        const int j = 2 * kk;
        const int k = kSamples - j;
        const double wkr = 0.5 - cosines[kCosines - kk];
        const double wki = cosines[kk];
        const double xr = a[j] - a[k];
        const double xi = a[j + 1] + a[k + 1];
        const double yr = wkr * xr - wki * xi;
        const double yi = wkr * xi + wki * xr;
        a[j] -= yr;
        a[j + 1] -= yi;
        a[k] += yr;
        a[k + 1] -= yi;
        UpdateSlot(spectrum[j], a[j] * a[j] + a[j + 1] * a[j + 1], rule);
        UpdateSlot(spectrum[k], a[k] * a[k] + a[k + 1] * a[k + 1], rule);
    }
    a[0] = a[0] * a[0];
    UpdateSlot(spectrum[0], a[0], rule);
    UpdateSlot(spectrum[kPoints], a[kPoints] * a[kPoints] + a[kPoints + 1] * a[kPoints + 1], rule);
}

template <int V>
[[gnu::always_inline]] inline bool ProcessBlock(const DFTBlock& block)
{
    double* a = block.work;
    const bool overload = WindowReordered<V>(block.samples, block.window, a, block.bitReverseScratch);
    FirstStage<V>(a, block.tables);
    for (int span = 4; span <= kPoints / 4; span *= 4)
        Stage<V>(a, block.tables, span);
    const double* cosines = block.tables + kTwiddleDoubles;
    if (block.rule.fastScale != 0.0)
        SplitVectors<V, true>(a, cosines, block.spectrum, block.rule);
    else
        SplitVectors<V, false>(a, cosines, block.spectrum, block.rule);
    SplitEdges(a, cosines, block.spectrum, block.rule);
    return overload;
}

bool RunsAnywhere() { return true; }
bool ProcessBaseline(const DFTBlock& block) { return ProcessBlock<2>(block); }

#if defined(__x86_64__)
bool RunsAvx2()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

bool RunsAvx512()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f");
}

[[gnu::target("avx2")]] bool ProcessAvx2(const DFTBlock& block) { return ProcessBlock<4>(block); }
[[gnu::target("avx512f")]] bool ProcessAvx512(const DFTBlock& block) { return ProcessBlock<8>(block); }

constexpr DFTKernel kKernels[] = {
    {"avx512f", RunsAvx512, ProcessAvx512},
    {"avx2", RunsAvx2, ProcessAvx2},
    {"baseline", RunsAnywhere, ProcessBaseline},
};
#else
constexpr DFTKernel kKernels[] = {
    {"baseline", RunsAnywhere, ProcessBaseline},
};
#endif

}  // namespace

void UpdateSlot(double& slot, double power, const SlotRule& rule)
{
    const double kept = slot * rule.keep;
    if (rule.logScale) {
        const double level = std::log10(power + kPowerOffset) - kLogOffset - rule.floor;
        StoreSlot(slot, level < 0.0 ? kept : kept + level * rule.share);
    } else {
        StoreSlot(slot, kept + std::sqrt(std::sqrt(power)) * kLinearScale * rule.share);
    }
}

void FillBitReverseTable(int32_t* table, int bits)
{
    table[0] = 0;
    for (int filled = 1, step = 1 << bits; filled < 1 << bits; filled <<= 1) {
        step >>= 1;
        for (int j = 0; j < filled; ++j)
            table[filled + j] = table[j] + step;
    }
}

std::span<const DFTKernel> DFTKernels() { return kKernels; }

const DFTKernel& ChosenDFTKernel()
{
    static const DFTKernel& chosen =
        *std::find_if(std::begin(kKernels), std::end(kKernels), [](const DFTKernel& k) { return k.runsHere(); });
    return chosen;
}
