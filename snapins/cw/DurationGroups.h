// Recent durations of one kind (marks, or the longer gaps) split into a short
// and a long group: dots and dashes, or gaps between characters and between
// words. Looking at the groups rather than at one fixed threshold lets the
// reader follow any speed and any weighting from a few characters on.
#ifndef CW_DURATION_GROUPS_H
#define CW_DURATION_GROUPS_H

#include <deque>
#include <optional>

namespace rz::cw {

class DurationGroups {
public:
    struct Split {
        double shortMedian;
        double longMedian;
    };

    explicit DurationGroups(size_t capacity) : m_capacity(capacity) {}

    void Add(double duration);
    void Clear() { m_values.clear(); }
    size_t Size() const { return m_values.size(); }

    // The two groups that the durations fall into (the split that leaves the
    // least spread in each, on a log scale), when their medians lie at least
    // `minRatio` apart and there are `minCount` durations or more.
    std::optional<Split> Groups(double minRatio, size_t minCount) const;
    // The median of all recent durations, or nothing when there are none.
    std::optional<double> Median() const;

private:
    size_t m_capacity;
    std::deque<double> m_values;
};

}  // namespace rz::cw

#endif
