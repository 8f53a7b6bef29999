// The Varicode: every ASCII character through its code and back, the codes'
// defining property, and how the decoder treats what is not a character.
#include <gtest/gtest.h>

#include <string>

#include "Varicode.h"

namespace {

using rz::psk::VaricodeDecoder;
using rz::psk::VaricodeOf;

std::string Bits(char32_t ch)
{
    const rz::psk::VaricodeBits code = *VaricodeOf(ch);
    std::string bits;
    for (int i = code.length - 1; i >= 0; --i)
        bits += ((code.bits >> i) & 1) ? '1' : '0';
    return bits;
}

std::string Decode(VaricodeDecoder& decoder, const std::string& bits)
{
    std::string text;
    for (char bit : bits)
        if (const auto ch = bit == ' ' ? std::nullopt : decoder.Push(bit == '1'))
            text += *ch;
    return text;
}

TEST(Varicode, EveryCharacterBackAndNoCodeHoldsTheGap)
{
    EXPECT_EQ(Bits('e'), "11");
    EXPECT_EQ(Bits('E'), "1110111");
    VaricodeDecoder decoder;
    std::string bits = "00";
    std::string all;
    for (char32_t ch = 0; ch < 128; ++ch) {
        const std::string code = Bits(ch);
        EXPECT_TRUE(code.front() == '1' && code.back() == '1' && code.find("00") == std::string::npos) << int(ch);
        bits += code + "00";
        all += static_cast<char>(ch);
    }
    EXPECT_EQ(Decode(decoder, bits), all);
    EXPECT_FALSE(VaricodeOf(128).has_value());
    EXPECT_FALSE(VaricodeOf(U'\u00e9').has_value());
}

TEST(Varicode, DecoderDropsPartialAndOverlongCodes)
{
    const struct {
        const char* bits;
        const char* text;
        const char* why;
    } cases[] = {
        {"11 00 11 00", "e", "before the first gap the code may have begun earlier"},
        {"00 11111111111 00 1111111111 00 1 0000000", " ", "eleven 1 bits, or ten (no character's), make nothing"},
    };
    for (const auto& c : cases) {
        VaricodeDecoder decoder;
        EXPECT_EQ(Decode(decoder, c.bits), c.text) << c.why;
    }
    // After a reset (a gap in the signal), the bits up to the next "00" are dropped.
    VaricodeDecoder decoder;
    EXPECT_EQ(Decode(decoder, "00 1 00"), " ");
    decoder.Reset();
    EXPECT_EQ(Decode(decoder, "1 00 1 00"), " ");
}

}  // namespace
