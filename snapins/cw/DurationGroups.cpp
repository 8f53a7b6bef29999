#include "DurationGroups.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace rz::cw {

namespace {

double MedianOfSorted(const std::vector<double>& sorted, size_t from, size_t to)
{
    const size_t count = to - from;
    const size_t middle = from + count / 2;
    return count % 2 == 1 ? sorted[middle] : 0.5 * (sorted[middle - 1] + sorted[middle]);
}

}  // namespace

void DurationGroups::Add(double duration)
{
    m_values.push_back(duration);
    if (m_values.size() > m_capacity)
        m_values.pop_front();
}

std::optional<DurationGroups::Split> DurationGroups::Groups(double minRatio, size_t minCount) const
{
    if (m_values.size() < std::max<size_t>(minCount, 2))
        return std::nullopt;
    std::vector<double> sorted(m_values.begin(), m_values.end());
    std::sort(sorted.begin(), sorted.end());
    std::vector<double> logs(sorted.size());
    std::transform(sorted.begin(), sorted.end(), logs.begin(), [](double v) { return std::log(std::max(v, 1e-9)); });

    // Prefix sums give each split's spread in constant time.
    std::vector<double> sum(logs.size() + 1, 0.0);
    std::vector<double> squares(logs.size() + 1, 0.0);
    for (size_t i = 0; i < logs.size(); ++i) {
        sum[i + 1] = sum[i] + logs[i];
        squares[i + 1] = squares[i] + logs[i] * logs[i];
    }
    const auto spread = [&](size_t from, size_t to) {
        const double n = static_cast<double>(to - from);
        const double s = sum[to] - sum[from];
        return squares[to] - squares[from] - s * s / n;
    };
    size_t best = 0;
    double bestSpread = std::numeric_limits<double>::infinity();
    for (size_t at = 1; at < logs.size(); ++at) {
        const double total = spread(0, at) + spread(at, logs.size());
        if (total < bestSpread) {
            bestSpread = total;
            best = at;
        }
    }
    const Split split{MedianOfSorted(sorted, 0, best), MedianOfSorted(sorted, best, sorted.size())};
    if (split.longMedian < minRatio * split.shortMedian)
        return std::nullopt;
    return split;
}

std::optional<double> DurationGroups::Median() const
{
    if (m_values.empty())
        return std::nullopt;
    std::vector<double> sorted(m_values.begin(), m_values.end());
    std::sort(sorted.begin(), sorted.end());
    return MedianOfSorted(sorted, 0, sorted.size());
}

}  // namespace rz::cw
