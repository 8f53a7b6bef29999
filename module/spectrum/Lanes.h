// Vectors of V doubles (GCC vector extensions) and the lane moves the spectrum
// kernels need: V = 2 (SSE2, NEON), 4 (AVX2), 8 (AVX-512). A complex value
// occupies two neighbouring lanes, real part first. Every helper is forced
// inline, so each kernel compiles it for its own instruction set.
#pragma once

#include <cstdint>

// GCC takes a vector size that depends on a template argument only in an
// explicit specialisation, so each width spells out its types.
template <int V>
struct VectorTypes;

template <>
struct VectorTypes<2> {
    typedef double D __attribute__((vector_size(16)));
    typedef double Unaligned __attribute__((vector_size(16), aligned(8)));
    typedef int64_t I __attribute__((vector_size(16)));
    typedef uint64_t U __attribute__((vector_size(16)));
    typedef double Half;
};

template <>
struct VectorTypes<4> {
    typedef double D __attribute__((vector_size(32)));
    typedef double Unaligned __attribute__((vector_size(32), aligned(8)));
    typedef int64_t I __attribute__((vector_size(32)));
    typedef uint64_t U __attribute__((vector_size(32)));
    typedef double Half __attribute__((vector_size(16)));
};

template <>
struct VectorTypes<8> {
    typedef double D __attribute__((vector_size(64)));
    typedef double Unaligned __attribute__((vector_size(64), aligned(8)));
    typedef int64_t I __attribute__((vector_size(64)));
    typedef uint64_t U __attribute__((vector_size(64)));
    typedef double Half __attribute__((vector_size(32)));
};

template <int V>
struct Lanes {
    using D = typename VectorTypes<V>::D;
    using I = typename VectorTypes<V>::I;  // comparison results: -1 or 0
    using U = typename VectorTypes<V>::U;
    using Unaligned = typename VectorTypes<V>::Unaligned;
    static constexpr int kComplex = V / 2;

    // Accesses through a vector of doubles alias doubles only, so the compiler
    // need not reload tables of other types after a store.
    [[gnu::always_inline]] static D Load(const double* p) { return *reinterpret_cast<const Unaligned*>(p); }
    [[gnu::always_inline]] static void Store(double* p, const D& v) { *reinterpret_cast<Unaligned*>(p) = v; }

    [[gnu::always_inline]] static D Splat(double x) { return D{} + x; }

    // (a, b) repeated over the lanes.
    [[gnu::always_inline]] static D Alternate(double a, double b)
    {
        D v;
        for (int i = 0; i < V; i += 2) {
            v[i] = a;
            v[i + 1] = b;
        }
        return v;
    }

    // Lane by lane: a where it is the smaller (larger), else b, so a NaN in a
    // gives b.
    [[gnu::always_inline]] static D Min(const D& a, const D& b) { return a < b ? a : b; }
    [[gnu::always_inline]] static D Max(const D& a, const D& b) { return a > b ? a : b; }

    // The smallest and the largest lane; for vectors without NaN.
    [[gnu::always_inline]] static double Smallest(const D& v)
    {
        D m = v;
        if constexpr (V == 8)
            m = Min(m, SwapHalves(m));
        if constexpr (V >= 4)
            m = Min(m, ReverseComplex(m));
        return Min(m, SwapPairs(m))[0];
    }

    [[gnu::always_inline]] static double Largest(const D& v)
    {
        D m = v;
        if constexpr (V == 8)
            m = Max(m, SwapHalves(m));
        if constexpr (V >= 4)
            m = Max(m, ReverseComplex(m));
        return Max(m, SwapPairs(m))[0];
    }

    [[gnu::always_inline]] static D Abs(const D& v)
    {
        return reinterpret_cast<D>(reinterpret_cast<U>(v) & 0x7FFFFFFFFFFFFFFFu);
    }

    // Real and imaginary part swapped in every complex lane.
    [[gnu::always_inline]] static D SwapPairs(const D& v)
    {
        if constexpr (V == 2)
            return __builtin_shufflevector(v, v, 1, 0);
        else if constexpr (V == 4)
            return __builtin_shufflevector(v, v, 1, 0, 3, 2);
        else
            return __builtin_shufflevector(v, v, 1, 0, 3, 2, 5, 4, 7, 6);
    }

    // The complex values in reverse order.
    [[gnu::always_inline]] static D ReverseComplex(const D& v)
    {
        if constexpr (V == 2)
            return v;
        else if constexpr (V == 4)
            return __builtin_shufflevector(v, v, 2, 3, 0, 1);
        else
            return __builtin_shufflevector(v, v, 6, 7, 4, 5, 2, 3, 0, 1);
    }

    // Each complex lane filled with its real part, or with its imaginary part.
    [[gnu::always_inline]] static D RealParts(const D& v)
    {
        if constexpr (V == 2)
            return __builtin_shufflevector(v, v, 0, 0);
        else if constexpr (V == 4)
            return __builtin_shufflevector(v, v, 0, 0, 2, 2);
        else
            return __builtin_shufflevector(v, v, 0, 0, 2, 2, 4, 4, 6, 6);
    }

    [[gnu::always_inline]] static D ImagParts(const D& v)
    {
        if constexpr (V == 2)
            return __builtin_shufflevector(v, v, 1, 1);
        else if constexpr (V == 4)
            return __builtin_shufflevector(v, v, 1, 1, 3, 3);
        else
            return __builtin_shufflevector(v, v, 1, 1, 3, 3, 5, 5, 7, 7);
    }

    // The even lanes of a then of b; the odd lanes of a then of b.
    [[gnu::always_inline]] static D EvenLanes(const D& a, const D& b)
    {
        if constexpr (V == 2)
            return __builtin_shufflevector(a, b, 0, 2);
        else if constexpr (V == 4)
            return __builtin_shufflevector(a, b, 0, 2, 4, 6);
        else
            return __builtin_shufflevector(a, b, 0, 2, 4, 6, 8, 10, 12, 14);
    }

    [[gnu::always_inline]] static D OddLanes(const D& a, const D& b)
    {
        if constexpr (V == 2)
            return __builtin_shufflevector(a, b, 1, 3);
        else if constexpr (V == 4)
            return __builtin_shufflevector(a, b, 1, 3, 5, 7);
        else
            return __builtin_shufflevector(a, b, 1, 3, 5, 7, 9, 11, 13, 15);
    }

    // The even (odd) lanes of a then of b, all in reverse order.
    [[gnu::always_inline]] static D EvenLanesReversed(const D& a, const D& b)
    {
        if constexpr (V == 2)
            return __builtin_shufflevector(a, b, 2, 0);
        else if constexpr (V == 4)
            return __builtin_shufflevector(a, b, 6, 4, 2, 0);
        else
            return __builtin_shufflevector(a, b, 14, 12, 10, 8, 6, 4, 2, 0);
    }

    [[gnu::always_inline]] static D OddLanesReversed(const D& a, const D& b)
    {
        if constexpr (V == 2)
            return __builtin_shufflevector(a, b, 3, 1);
        else if constexpr (V == 4)
            return __builtin_shufflevector(a, b, 7, 5, 3, 1);
        else
            return __builtin_shufflevector(a, b, 15, 13, 11, 9, 7, 5, 3, 1);
    }

    // All lanes in reverse order.
    [[gnu::always_inline]] static D Reverse(const D& v)
    {
        if constexpr (V == 2)
            return __builtin_shufflevector(v, v, 1, 0);
        else if constexpr (V == 4)
            return __builtin_shufflevector(v, v, 3, 2, 1, 0);
        else
            return __builtin_shufflevector(v, v, 7, 6, 5, 4, 3, 2, 1, 0);
    }

    // Complex values from real parts re and imaginary parts im: those of the
    // low half of the lanes, or of the high half.
    [[gnu::always_inline]] static D InterleaveLow(const D& re, const D& im)
    {
        if constexpr (V == 2)
            return __builtin_shufflevector(re, im, 0, 2);
        else if constexpr (V == 4)
            return __builtin_shufflevector(re, im, 0, 4, 1, 5);
        else
            return __builtin_shufflevector(re, im, 0, 8, 1, 9, 2, 10, 3, 11);
    }

    [[gnu::always_inline]] static D InterleaveHigh(const D& re, const D& im)
    {
        if constexpr (V == 2)
            return __builtin_shufflevector(re, im, 1, 3);
        else if constexpr (V == 4)
            return __builtin_shufflevector(re, im, 2, 6, 3, 7);
        else
            return __builtin_shufflevector(re, im, 4, 12, 5, 13, 6, 14, 7, 15);
    }

    // As InterleaveLow and InterleaveHigh, the complex values in reverse order.
    [[gnu::always_inline]] static D InterleaveLowReversed(const D& re, const D& im)
    {
        if constexpr (V == 2)
            return __builtin_shufflevector(re, im, 0, 2);
        else if constexpr (V == 4)
            return __builtin_shufflevector(re, im, 1, 5, 0, 4);
        else
            return __builtin_shufflevector(re, im, 3, 11, 2, 10, 1, 9, 0, 8);
    }

    [[gnu::always_inline]] static D InterleaveHighReversed(const D& re, const D& im)
    {
        if constexpr (V == 2)
            return __builtin_shufflevector(re, im, 1, 3);
        else if constexpr (V == 4)
            return __builtin_shufflevector(re, im, 3, 7, 2, 6);
        else
            return __builtin_shufflevector(re, im, 7, 15, 6, 14, 5, 13, 4, 12);
    }

    // The kComplex / 2 complex values at p, each twice: p0, p0, p1, p1.
    [[gnu::always_inline]] static D LoadComplexDoubled(const double* p)
    {
        static_assert(V >= 4);
        Half h;
        __builtin_memcpy(&h, p, sizeof h);
        if constexpr (V == 4)
            return __builtin_shufflevector(h, h, 0, 1, 0, 1);
        else
            return __builtin_shufflevector(h, h, 0, 1, 0, 1, 2, 3, 2, 3);
    }

    // Complex lanes 0, 2, ... from a and 1, 3, ... from b.
    [[gnu::always_inline]] static D AlternateComplex(const D& a, const D& b)
    {
        static_assert(V >= 4);
        if constexpr (V == 4)
            return __builtin_shufflevector(a, b, 0, 1, 6, 7);
        else
            return __builtin_shufflevector(a, b, 0, 1, 10, 11, 4, 5, 14, 15);
    }

private:
    [[gnu::always_inline]] static D SwapHalves(const D& v)
    {
        static_assert(V == 8);
        return __builtin_shufflevector(v, v, 4, 5, 6, 7, 0, 1, 2, 3);
    }

    using Half = typename VectorTypes<V>::Half;
};
