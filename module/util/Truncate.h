// Truncation toward zero as the x86 conversion does it, where the module's
// numbers were first defined: values outside the 32-bit range, and NaN, give
// 0x80000000 instead of undefined behaviour.
#pragma once

#include <cstdint>
#include <limits>

inline int32_t TruncateToInt32(double value)
{
    if (!(value > -2147483649.0 && value < 2147483648.0))
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}
