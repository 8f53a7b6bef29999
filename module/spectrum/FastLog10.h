// log10 of a vector of doubles at a fraction of the cost of std::log10, with a
// proven error bound, for callers that fall back to std::log10 wherever the
// bound leaves the answer in doubt.
#pragma once

#include "spectrum/Lanes.h"

// For every positive normal u:
//   |FastLog10(u) - log10(u)| <= kFastLog10AbsError + kFastLog10RelError * |log10(u)|.
// u = 2^e * m with m in [sqrt(1/2), sqrt(2)), and ln m = 2 atanh(s) with
// s = (m - 1) / (m + 1), |s| <= 0.1716. The series is cut after s^15: the rest is
// below 2 |s|^17 / (17 (1 - s^2)) < 1.2e-14 in ln m, 5.1e-15 in log10. m - 1 is
// exact; the rounding of s and of the terms after the first stays below 2^-50
// of log10 m (|log10 m| <= 0.151, so below 1.4e-16); the product with log10(2),
// its rounding and the two sums cost at most 4 half-units in the last place
// of |log10 u|.
inline constexpr double kFastLog10AbsError = 1e-14;
inline constexpr double kFastLog10RelError = 0x1p-50;

// Meaningless for zero, negative, subnormal, infinite or NaN input: callers
// screen those out.
template <int V>
[[gnu::always_inline]] inline typename Lanes<V>::D FastLog10(const typename Lanes<V>::D& u)
{
    using L = Lanes<V>;
    using D = typename L::D;
    using I = typename L::I;
    using U = typename L::U;

    // Offsetting the bits by those of sqrt(1/2) makes the exponent field count
    // from there: m = u / 2^e lands in [sqrt(1/2), sqrt(2)) with integer steps only.
    constexpr uint64_t kSqrtHalfBits = 0x3FE6A09E667F3BCDu;
    const U bits = reinterpret_cast<U>(u);
    const U shifted = bits - kSqrtHalfBits;
    const I exponent = reinterpret_cast<I>(shifted) >> 52;
    const D m = reinterpret_cast<D>(bits - (shifted & 0xFFF0000000000000u));

    const D f = m - 1.0;
    const D s = f / (f + 2.0);
    const D z = s * s;
    // log10 m = 2 log10(e) (s + s z (1/3 + z/5 + ... + z^6/15)), the polynomial
    // as a tree and the sums ordered to keep the dependency chain short.
    constexpr double kTwoLog10E = 0.86858896380650365;
    const D z2 = z * z;
    const D z4 = z2 * z2;
    const D low = (1.0 / 3 + z * (1.0 / 5)) + z2 * (1.0 / 7 + z * (1.0 / 9));
    const D high = (1.0 / 11 + z * (1.0 / 13)) + z2 * (1.0 / 15);
    const D scaledS = s * kTwoLog10E;
    const D tail = (scaledS * z) * (low + z4 * high);

    // The exponent, |e| < 2^51, becomes a double by way of the bits of 1.5 * 2^52 + e.
    constexpr double kIntegerBias = 0x1.8p52;
    const D e = reinterpret_cast<D>(exponent + 0x4338000000000000) - kIntegerBias;
    return (e * 0.30102999566398120 + scaledS) + tail;
}
