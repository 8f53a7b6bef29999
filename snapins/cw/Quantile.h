// The value that a share of a window's values lie at or below, for levels
// measured over a sliding window: a partial sort, as only one rank is wanted.
#ifndef CW_QUANTILE_H
#define CW_QUANTILE_H

#include <algorithm>
#include <cstddef>
#include <vector>

namespace rz::cw {

// Reorders `values`, which must not be empty; `share` lies in 0..1.
template <typename T>
T Quantile(std::vector<T>& values, double share)
{
    const auto at = values.begin() + static_cast<std::ptrdiff_t>(share * static_cast<double>(values.size() - 1));
    std::nth_element(values.begin(), at, values.end());
    return *at;
}

}  // namespace rz::cw

#endif
