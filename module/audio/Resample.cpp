#include "audio/Resample.h"

#include <algorithm>

namespace {
constexpr int kFactor = 6;
}

int Decimate6(int16_t* dst, const int16_t* src, int n)
{
    const int picked = n > 0 ? n / kFactor : 0;
    for (int k = 0; k < picked; ++k)
        dst[k] = src[kFactor * k];
    return picked;
}

int Repeat6(int16_t* dst, const int16_t* src, int n)
{
    if (n <= 0)
        return 0;
    for (int i = 0; i < n; ++i)
        std::fill_n(dst + kFactor * i, kFactor, src[i]);
    return kFactor * n;
}
