#include "MorseCode.h"

#include <algorithm>
#include <array>

namespace rz::cw {

namespace {

struct Entry {
    char ch;
    std::string_view pattern;
};

// Where two characters share a pattern ('(' and KN, '&' and AS, '=' and BT,
// '+' and AR) the receiver prints the prosign, as operators mean it.
constexpr std::array<Entry, 54> kCharacters{{
    {'A', ".-"},     {'B', "-..."},   {'C', "-.-."},   {'D', "-.."},     {'E', "."},       {'F', "..-."},
    {'G', "--."},    {'H', "...."},   {'I', ".."},     {'J', ".---"},    {'K', "-.-"},     {'L', ".-.."},
    {'M', "--"},     {'N', "-."},     {'O', "---"},    {'P', ".--."},    {'Q', "--.-"},    {'R', ".-."},
    {'S', "..."},    {'T', "-"},      {'U', "..-"},    {'V', "...-"},    {'W', ".--"},     {'X', "-..-"},
    {'Y', "-.--"},   {'Z', "--.."},   {'0', "-----"},  {'1', ".----"},   {'2', "..---"},   {'3', "...--"},
    {'4', "....-"},  {'5', "....."},  {'6', "-...."},  {'7', "--..."},   {'8', "---.."},   {'9', "----."},
    {'.', ".-.-.-"}, {',', "--..--"}, {'?', "..--.."}, {'\'', ".----."}, {'!', "-.-.--"},  {'/', "-..-."},
    {'(', "-.--."},  {')', "-.--.-"}, {'&', ".-..."},  {':', "---..."},  {';', "-.-.-."},  {'=', "-...-"},
    {'+', ".-.-."},  {'-', "-....-"}, {'_', "..--.-"}, {'"', ".-..-."},  {'$', "...-..-"}, {'@', ".--.-."},
}};

struct Prosign {
    std::string_view text;
    std::string_view pattern;
};

constexpr std::array<Prosign, 5> kProsigns{{
    {"<AR>", ".-.-."},
    {"<SK>", "...-.-"},
    {"<KN>", "-.--."},
    {"<BT>", "-...-"},
    {"<AS>", ".-..."},
}};

bool IsGap(char32_t ch) { return ch == ' ' || ch == '\r' || ch == '\n' || ch == '\t'; }

char32_t Upper(char32_t ch) { return ch >= 'a' && ch <= 'z' ? ch - 'a' + 'A' : ch; }

}  // namespace

std::string_view PatternFor(char32_t ch)
{
    ch = Upper(ch);
    const auto found = std::find_if(kCharacters.begin(), kCharacters.end(),
                                    [ch](const Entry& entry) { return static_cast<char32_t>(entry.ch) == ch; });
    return found != kCharacters.end() ? found->pattern : std::string_view();
}

std::string_view TextFor(std::string_view pattern)
{
    for (const Prosign& prosign : kProsigns) {
        if (prosign.pattern == pattern)
            return prosign.text;
    }
    const auto found = std::find_if(kCharacters.begin(), kCharacters.end(),
                                    [pattern](const Entry& entry) { return entry.pattern == pattern; });
    return found != kCharacters.end() ? std::string_view(&found->ch, 1) : std::string_view();
}

void MorseTextEncoder::Emit(std::string pattern, std::vector<Token>& out)
{
    const bool gap = pattern.empty();
    if (gap && m_lastWasGap)
        return;
    out.push_back(Token{std::move(pattern)});
    m_lastWasGap = gap;
}

void MorseTextEncoder::FlushProsign(std::vector<Token>& out)
{
    for (const char letter : m_prosignLetters)
        Emit(std::string(PatternFor(static_cast<unsigned char>(letter))), out);
    m_prosignLetters.clear();
    m_inProsign = false;
}

void MorseTextEncoder::Put(char32_t ch, std::vector<Token>& out)
{
    const char32_t upper = Upper(ch);
    if (m_inProsign) {
        if (upper == '>' && !m_prosignLetters.empty()) {
            std::string pattern;
            for (const char letter : m_prosignLetters)
                pattern += PatternFor(static_cast<unsigned char>(letter));
            m_prosignLetters.clear();
            m_inProsign = false;
            Emit(std::move(pattern), out);
            return;
        }
        if (upper >= 'A' && upper <= 'Z' && m_prosignLetters.size() < kMaxProsignLetters) {
            m_prosignLetters += static_cast<char>(upper);
            return;
        }
        // Not a prosign after all: its letters go out as letters.
        FlushProsign(out);
    }
    if (upper == '<') {
        m_inProsign = true;
        return;
    }
    if (IsGap(upper)) {
        Emit(std::string(), out);
        return;
    }
    const std::string_view pattern = PatternFor(upper);
    if (!pattern.empty())
        Emit(std::string(pattern), out);
}

}  // namespace rz::cw
