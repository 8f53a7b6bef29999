#include "Varicode.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace rz::psk {

namespace {

constexpr std::array<std::string_view, 128> kCodes = {
    "1010101011", "1011011011", "1011101101", "1101110111", "1011101011", "1101011111", "1011101111", "1011111101",
    "1011111111", "11101111",   "11101",      "1101101111", "1011011101", "11111",      "1101110101", "1110101011",
    "1011110111", "1011110101", "1110101101", "1110101111", "1101011011", "1101101011", "1101101101", "1101010111",
    "1101111011", "1101111101", "1110110111", "1101010101", "1101011101", "1110111011", "1011111011", "1101111111",
    "1",          "111111111",  "101011111",  "111110101",  "111011011",  "1011010101", "1010111011", "101111111",
    "11111011",   "11110111",   "101101111",  "111011111",  "1110101",    "110101",     "1010111",    "110101111",
    "10110111",   "10111101",   "11101101",   "11111111",   "101110111",  "101011011",  "101101011",  "110101101",
    "110101011",  "110110111",  "11110101",   "110111101",  "111101101",  "1010101",    "111010111",  "1010101111",
    "1010111101", "1111101",    "11101011",   "10101101",   "10110101",   "1110111",    "11011011",   "11111101",
    "101010101",  "1111111",    "111111101",  "101111101",  "11010111",   "10111011",   "11011101",   "10101011",
    "11010101",   "111011101",  "10101111",   "1101111",    "1101101",    "101010111",  "110110101",  "101011101",
    "101110101",  "101111011",  "1010101101", "111110111",  "111101111",  "111111011",  "1010111111", "101101101",
    "1011011111", "1011",       "1011111",    "101111",     "101101",     "11",         "111101",     "1011011",
    "101011",     "1101",       "111101011",  "10111111",   "11011",      "111011",     "1111",       "111",
    "111111",     "110111111",  "10101",      "10111",      "101",        "110111",     "1111011",    "1101011",
    "11011111",   "1011101",    "111010101",  "1010110111", "110111011",  "1010110101", "1011010111", "1110110101",
};

constexpr VaricodeBits Parsed(std::string_view code)
{
    uint16_t bits = 0;
    for (char c : code)
        bits = static_cast<uint16_t>((bits << 1) | (c == '1' ? 1 : 0));
    return {bits, static_cast<int>(code.size())};
}

constexpr std::array<VaricodeBits, 128> kTable = [] {
    std::array<VaricodeBits, 128> table{};
    for (size_t i = 0; i < kCodes.size(); ++i)
        table[i] = Parsed(kCodes[i]);
    return table;
}();

constexpr int kLongestCode = 10;

}  // namespace

std::optional<VaricodeBits> VaricodeOf(char32_t ch)
{
    if (ch >= kTable.size())
        return std::nullopt;
    return kTable[ch];
}

std::optional<char> VaricodeDecoder::Push(bool bit)
{
    m_bits = (m_bits << 1) | (bit ? 1u : 0u);
    m_length = std::min(m_length + 1, kLongestCode + 3);
    if ((m_bits & 0x3u) != 0)
        return std::nullopt;
    // Longer than any code and its gap: not a character.
    const bool whole = m_synced && m_length <= kLongestCode + 2;
    const uint32_t code = m_bits >> 2;
    Reset();
    m_synced = true;
    if (!whole || code == 0)
        return std::nullopt;
    const auto found = std::ranges::find(kTable, code, &VaricodeBits::bits);
    if (found == kTable.end())
        return std::nullopt;
    return static_cast<char>(found - kTable.begin());
}

}  // namespace rz::psk
