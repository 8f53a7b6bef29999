#include "Baudot.h"

#include <array>

namespace rz::rtty {

namespace {

constexpr uint8_t kCodeMask = 0x1F;

// Indexed by code; 0 where nothing prints. The two shift codes print nothing.
constexpr std::array<char, 32> kLetters = {
    0,   'E', '\n', 'A', ' ', 'S', 'I', 'U', '\r', 'D', 'R', 'J', 'N', 'F', 'C', 'K',
    'T', 'Z', 'L',  'W', 'H', 'Y', 'P', 'Q', 'O',  'B', 'G', 0,   'M', 'X', 'V', 0,
};
constexpr std::array<char, 32> kFigures = {
    0,   '3', '\n', '-', ' ', '\a', '8', '7', '\r', '$', '4', '\'', ',', '!', ':', '(',
    '5', '"', ')',  '2', '#', '6',  '0', '1', '9',  '?', '&', 0,    '.', '/', ';', 0,
};

enum class Case : uint8_t { None, Letters, Figures, Either };

struct Placement {
    uint8_t code = 0;
    Case needs = Case::None;
};

// ASCII to code and the case it needs; characters printed alike in both cases
// (space, CR, LF) need either.
constexpr std::array<Placement, 128> BuildPlacements()
{
    std::array<Placement, 128> table{};
    for (uint8_t code = 0; code < 32; ++code) {
        const auto letter = static_cast<unsigned char>(kLetters[code]);
        const auto figure = static_cast<unsigned char>(kFigures[code]);
        if (letter != 0)
            table[letter] = {code, Case::Letters};
        if (figure != 0)
            table[figure] = {code, figure == letter ? Case::Either : Case::Figures};
    }
    return table;
}

constexpr std::array<Placement, 128> kPlacements = BuildPlacements();

Placement PlacementOf(char32_t ch)
{
    if (ch >= U'a' && ch <= U'z')
        ch -= U'a' - U'A';
    return ch < kPlacements.size() ? kPlacements[ch] : Placement{};
}

}  // namespace

bool BaudotEncoder::Carries(char32_t ch) { return PlacementOf(ch).needs != Case::None; }

int BaudotEncoder::Encode(char32_t ch, uint8_t codes[kMaxCodesPerChar])
{
    const Placement placement = PlacementOf(ch);
    int count = 0;
    switch (placement.needs) {
        case Case::None:
            return 0;
        case Case::Letters:
            if (m_shift != Shift::Letters)
                codes[count++] = kBaudotLetters;
            m_shift = Shift::Letters;
            break;
        case Case::Figures:
            if (m_shift != Shift::Figures)
                codes[count++] = kBaudotFigures;
            m_shift = Shift::Figures;
            break;
        case Case::Either:
            if (m_shift == Shift::Unknown) {
                codes[count++] = kBaudotLetters;
                m_shift = Shift::Letters;
            }
            break;
    }
    codes[count++] = placement.code;
    if (placement.code == kBaudotSpace && m_shift == Shift::Figures)
        m_shift = Shift::Open;
    return count;
}

char BaudotDecoder::Decode(uint8_t code)
{
    code &= kCodeMask;
    if (code == kBaudotLetters) {
        m_figures = false;
        return 0;
    }
    if (code == kBaudotFigures) {
        m_figures = true;
        return 0;
    }
    if (code == kBaudotSpace && m_unshiftOnSpace)
        m_figures = false;
    return m_figures ? kFigures[code] : kLetters[code];
}

}  // namespace rz::rtty
