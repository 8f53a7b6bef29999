// The PSK31 Varicode: one code for each of the 128 ASCII characters, from one
// to ten bits, each starting and ending with 1 and never holding two 0 bits in
// a row, so that "00" marks the gap between characters.
#ifndef PSK_VARICODE_H
#define PSK_VARICODE_H

#include <cstdint>
#include <optional>

namespace rz::psk {

struct VaricodeBits {
    uint16_t bits;  // the code, first bit sent in the highest of `length` bits
    int length;
};

// Nothing for a character outside ASCII.
std::optional<VaricodeBits> VaricodeOf(char32_t ch);

// Bits to characters: a code ends where two 0 bits follow it.
class VaricodeDecoder {
public:
    // Takes the next bit; a character when it completes one.
    std::optional<char> Push(bool bit);
    // Forgets a partial code: the bits before and after a gap in the signal
    // are not one character, so characters start again after the next "00".
    void Reset()
    {
        m_bits = 0;
        m_length = 0;
        m_synced = false;
    }

private:
    uint32_t m_bits = 0;
    int m_length = 0;  // bits since the last gap
    bool m_synced = false;
};

}  // namespace rz::psk

#endif
