#include "MatchedFilter.h"

#include <algorithm>
#include <cmath>

namespace rz::cw {

namespace {

// The running sum is rebuilt now and then, so rounding never accumulates.
constexpr int kResumInterval = 4096;

}  // namespace

void MatchedFilter::SetLength(int length)
{
    length = std::clamp(length, 2, kMaxLength);
    if (length != m_length) {
        m_length = length;
        Resum();
    }
}

Complex MatchedFilter::Oldest() const
{
    return m_history[static_cast<size_t>((m_at - m_length + kMaxLength) % kMaxLength)];
}

void MatchedFilter::Resum()
{
    m_sum = Complex();
    for (int i = 1; i <= m_length; ++i)
        m_sum += m_history[static_cast<size_t>((m_at - i + kMaxLength) % kMaxLength)];
    m_sinceResum = 0;
}

double MatchedFilter::Push(Complex sample)
{
    m_sum += sample - Oldest();
    m_history[static_cast<size_t>(m_at)] = sample;
    m_at = (m_at + 1) % kMaxLength;
    if (++m_sinceResum >= kResumInterval)
        Resum();
    return std::abs(m_sum) / m_length;
}

}  // namespace rz::cw
