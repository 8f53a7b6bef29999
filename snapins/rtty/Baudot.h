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

// Text to codes. Tracks the case that the far receiver is in and inserts a
// letters or figures shift wherever the next character needs one. A space in
// figures leaves the far case open: a receiver that unshifts on space is back in
// letters, one that does not is still in figures. So after it both a letter and a
// figure get their shift, and the text prints right on either kind.
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
    // Unknown: nothing sent yet. Open: letters or figures, depending on whether
    // the receiver unshifts on space; characters alike in both cases need no shift.
    enum class Shift { Unknown, Open, Letters, Figures };
    Shift m_shift = Shift::Unknown;
};

// Codes to text: follows the shifts, returns to letters on a space unless told
// not to, and prints CR and LF as '\r' and '\n'.
class BaudotDecoder {
public:
    explicit BaudotDecoder(bool unshiftOnSpace = true) : m_unshiftOnSpace(unshiftOnSpace) {}

    void SetUnshiftOnSpace(bool on) { m_unshiftOnSpace = on; }

    // The character for `code` (its low five bits), or 0 for codes that print
    // nothing: the shifts and the blank.
    char Decode(uint8_t code);

private:
    bool m_unshiftOnSpace;
    bool m_figures = false;
};

}  // namespace rz::rtty

#endif
