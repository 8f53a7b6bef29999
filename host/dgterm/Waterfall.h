// The waterfall: each spectrum the module reports becomes one row of shades
// across 0-4 kHz.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace rz::dgterm {

// GetDGFFTData's bins: 1024 of 3.90625 Hz (8000 samples per second, 2048 points).
inline constexpr int kSpectrumBins = 1024;
inline constexpr double kSpectrumHz = 4000.0;
using Spectrum = std::array<int32_t, kSpectrumBins>;

// Shades from nothing to the strongest, and the characters that draw them
// where a terminal has no colour.
inline constexpr int kShades = 10;
inline constexpr char kShadeChars[kShades + 1] = " .:-=+*#%@";

// `width` columns, each the strongest bin it covers as a shade. The module's bins
// run in 2 dB steps from 0 (silence) to about 50 (a full-scale tone).
std::vector<uint8_t> WaterfallRow(const Spectrum& spectrum, int width);

// The column that shows `hz`, or -1 outside 0-4 kHz.
int FrequencyColumn(double hz, int width);

}  // namespace rz::dgterm
