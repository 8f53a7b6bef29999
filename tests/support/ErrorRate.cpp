#include "ErrorRate.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace rz::test::support {

double CharacterErrorRate(const std::string& sent, const std::string& received)
{
    std::vector<size_t> previous(received.size() + 1);
    std::vector<size_t> current(received.size() + 1);
    for (size_t j = 0; j <= received.size(); ++j)
        previous[j] = j;
    for (size_t i = 1; i <= sent.size(); ++i) {
        current[0] = i;
        for (size_t j = 1; j <= received.size(); ++j) {
            const size_t substitute = previous[j - 1] + (sent[i - 1] == received[j - 1] ? 0 : 1);
            current[j] = std::min({previous[j] + 1, current[j - 1] + 1, substitute});
        }
        std::swap(previous, current);
    }
    return sent.empty() ? 0.0 : static_cast<double>(previous[received.size()]) / static_cast<double>(sent.size());
}

std::string Percent(std::optional<double> rate)
{
    if (!rate)
        return "n/a";
    char text[16];
    std::snprintf(text, sizeof text, "%.1f %%", 100.0 * *rate);
    return text;
}

std::string RepeatedLines(std::span<const char* const> lines, size_t length)
{
    std::string text;
    for (size_t i = 0; !lines.empty() && text.size() < length; ++i)
        text += lines[i % lines.size()];
    text.resize(length);
    return text;
}

}  // namespace rz::test::support
