// International Morse code: characters to dots and dashes and back. Patterns
// are strings of '.' and '-'. Prosigns are written in angle brackets, as
// operators and other programs write them: "<AR>", "<SK>", "<KN>", "<BT>", "<AS>".
#ifndef CW_MORSE_CODE_H
#define CW_MORSE_CODE_H

#include <string>
#include <string_view>
#include <vector>

namespace rz::cw {

// The longest pattern the decoder looks up; anything longer is no character.
inline constexpr size_t kMaxPatternLength = 8;

// The pattern of one character (lower case as upper case), or "" when Morse
// cannot carry it.
std::string_view PatternFor(char32_t ch);

// The text of a received pattern: a character, a prosign in angle brackets, or
// "" when the pattern is no Morse character.
std::string_view TextFor(std::string_view pattern);

// Text to send, one character at a time, as the patterns of whole characters
// and word gaps. Letters between '<' and '>' are sent run together as one
// prosign, also when the text reaches the encoder in pieces.
class MorseTextEncoder {
public:
    // One character to key, or a word gap when `pattern` is empty.
    struct Token {
        std::string pattern;
    };

    // Appends the tokens that `ch` completes. Characters Morse cannot carry are
    // dropped; space, CR, LF and tab are word gaps, several in a row count once.
    void Put(char32_t ch, std::vector<Token>& out);

private:
    static constexpr size_t kMaxProsignLetters = 4;

    void Emit(std::string pattern, std::vector<Token>& out);
    void FlushProsign(std::vector<Token>& out);

    bool m_inProsign = false;
    std::string m_prosignLetters;
    bool m_lastWasGap = true;
};

}  // namespace rz::cw

#endif
