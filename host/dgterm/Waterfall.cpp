#include "Waterfall.h"

#include <algorithm>

namespace rz::dgterm {

namespace {

// Bins at or below the floor (40 dB under the top) show nothing, so that
// a window's leakage does not smear a clean tone across the band; from the top
// value up a bin shows the strongest shade.
constexpr int kFloorValue = 25;
constexpr int kTopValue = 45;

}  // namespace

std::vector<uint8_t> WaterfallRow(const Spectrum& spectrum, int width)
{
    std::vector<uint8_t> row(static_cast<size_t>(std::max(width, 0)));
    for (int column = 0; column < width; ++column) {
        const int first = column * kSpectrumBins / width;
        const int last = std::max(first + 1, (column + 1) * kSpectrumBins / width);
        const int32_t strongest = *std::max_element(spectrum.begin() + first, spectrum.begin() + last);
        row[static_cast<size_t>(column)] = static_cast<uint8_t>(
            std::clamp((strongest - kFloorValue) * (kShades - 1) / (kTopValue - kFloorValue), 0, kShades - 1));
    }
    return row;
}

int FrequencyColumn(double hz, int width)
{
    if (hz < 0.0 || hz >= kSpectrumHz || width <= 0)
        return -1;
    return static_cast<int>(hz / kSpectrumHz * width);
}

}  // namespace rz::dgterm
