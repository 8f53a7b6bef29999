// ITA2 (Baudot) five-bit code with the figures case of amateur and US
// teleprinters ("$" on D, "'" on J, bell on S, ...), the set that minimodem and
// sound-card RTTY programs use. Letters print in upper case.
#ifndef RTTY_BAUDOT_H
#define RTTY_BAUDOT_H

#include <cstdint>

namespace rz::rtty {

inline constexpr uint8_t kBaudotLetters = 0x1F;
inline constexpr uint8_t kBaudotFigures = 0x1B;
inline constexpr uint8_t kBaudotSpace = 0x04;

// Text to codes. Tracks the shift that the far receiver is in and inserts a
// letters or figures shift where the next character needs one. The receiver
// returns to letters on every space, so a figure after a space is shifted again.
class BaudotEncoder {
public:
    static constexpr int kMaxCodesPerChar = 2;

    // Writes the codes for `ch` to `codes` (a shift first when needed) and returns
    // their number, 0 when Baudot cannot carry `ch`. Lower case is sent as upper.
    int Encode(char32_t ch, uint8_t codes[kMaxCodesPerChar]);

    // True when Baudot can carry `ch`.
    static bool Carries(char32_t ch);

    // A letters shift went out on its own (idle).
    void NoteLettersShift() { m_shift = Shift::Letters; }

private:
    enum class Shift { Unknown, Letters, Figures };
    Shift m_shift = Shift::Unknown;
};

// Codes to text: follows the shifts, returns to letters on a space, and prints
// CR and LF as '\r' and '\n'.
class BaudotDecoder {
public:
    // The character for `code` (its low five bits), or 0 for codes that print
    // nothing: the shifts and the blank.
    char Decode(uint8_t code);

private:
    bool m_figures = false;
};

}  // namespace rz::rtty

#endif
