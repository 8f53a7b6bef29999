// The filter matched to a keyed element: the sum of the last few baseband
// samples over their number, whose magnitude is the envelope of the keying.
#ifndef CW_MATCHED_FILTER_H
#define CW_MATCHED_FILTER_H

#include <array>

#include "Baseband.h"

namespace rz::cw {

class MatchedFilter {
public:
    static constexpr int kMaxLength = 256;

    // Clamped to 2..kMaxLength; the samples already taken stay in.
    void SetLength(int length);
    int Length() const { return m_length; }

    // Takes one sample; returns the envelope of the last `Length()` samples.
    double Push(Complex sample);
    // The oldest sample still in the sum.
    Complex Oldest() const;

private:
    void Resum();

    std::array<Complex, kMaxLength> m_history{};
    int m_at = 0;
    int m_length = 16;
    Complex m_sum;
    int m_sinceResum = 0;
};

}  // namespace rz::cw

#endif
