// Text through a snap-in's encoder as the module's transmit thread sends it:
// batches of 19 characters into blocks of 89999 samples, then idle in blocks of
// a second until the snap-in has nothing more to send.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "SnapinLibrary.h"

namespace rz::test::support {

inline std::vector<int16_t> SendThrough(const SnapinLibrary& snapin, const std::string& text)
{
    constexpr int kCapacity = 89999;
    constexpr int kBatch = 19;
    constexpr int kIdleBlock = 8000;
    std::vector<int16_t> audio;
    std::vector<int16_t> block(kCapacity);
    for (size_t at = 0; at < text.size(); at += kBatch) {
        const std::string batch = text.substr(at, kBatch);
        const int n = snapin.encodeA(block.data(), kCapacity, batch.data(), static_cast<int>(batch.size()));
        audio.insert(audio.end(), block.begin(), block.begin() + std::max(n, 0));
    }
    for (int second = 0; snapin.hasData() != 0 && second < 100; ++second) {
        const int n = snapin.twiddle(block.data(), kIdleBlock);
        audio.insert(audio.end(), block.begin(), block.begin() + std::max(n, 0));
    }
    return audio;
}

}  // namespace rz::test::support
