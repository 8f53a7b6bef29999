#include "audio/Resample.h"

#include <algorithm>

int Decimate6(int16_t* dst, const int16_t* src, int n)
{
    const int picked = n > 0 ? n / kRate48KHzFactor : 0;
    for (int k = 0; k < picked; ++k)
        dst[k] = src[kRate48KHzFactor * k];
    return picked;
}

int Repeat6(int16_t* dst, const int16_t* src, int n)
{
    if (n <= 0)
        return 0;
    for (int i = 0; i < n; ++i)
        std::fill_n(dst + kRate48KHzFactor * i, kRate48KHzFactor, src[i]);
    return kRate48KHzFactor * n;
}
