// The Varicode: every ASCII character through its code and back, the codes'
// defining property, and how the decoder treats what is not a character.
#include <gtest/gtest.h>

#include <string>

#include "varicode.h"

namespace {

using rz::psk::VaricodeBits;
using rz::psk::VaricodeDecoder;
using rz::psk::VaricodeOf;

std::string Bits(char32_t ch)
{
    const VaricodeBits code = *VaricodeOf(ch);
    std::string bits;
    for (int i = code.length - 1; i >= 0; --i)
        bits += ((code.bits >> i) & 1) ? '1' : '0';
    return bits;
}

std::string Decode(VaricodeDecoder& decoder, const std::string& bits)
{
    std::string text;
    for (char bit : bits)
        if (const auto ch = decoder.Push(bit == '1'))
            text += *ch;
    return text;
}

TEST(Varicode, KnownCodesAndTheGapRule)
{
    EXPECT_EQ(Bits(' '), "1");
    EXPECT_EQ(Bits('e'), "11");
    EXPECT_EQ(Bits('E'), "1110111");
    EXPECT_EQ(Bits('\n'), "11101");
    EXPECT_EQ(Bits('\r'), "11111");
    EXPECT_EQ(Bits('0'), "10110111");
    EXPECT_EQ(Bits(0), "1010101011");
    for (char32_t ch = 0; ch < 128; ++ch) {
        const std::string bits = Bits(ch);
        EXPECT_TRUE(bits.front() == '1' && bits.back() == '1' && bits.find("00") == std::string::npos) << int(ch);
    }
    EXPECT_FALSE(VaricodeOf(128).has_value());
    EXPECT_FALSE(VaricodeOf(U'\u00e9').has_value());
}

TEST(Varicode, EveryCharacterComesBack)
{
    VaricodeDecoder decoder;
    std::string bits = "00";
    std::string all;
    for (char32_t ch = 0; ch < 128; ++ch) {
        bits += Bits(ch) + "00";
        all += static_cast<char>(ch);
    }
    EXPECT_EQ(Decode(decoder, bits), all);
}

TEST(Varicode, DecoderDropsPartialAndOverlongCodes)
{
    VaricodeDecoder decoder;
    // Before the first gap the code may have begun earlier: it is dropped.
    EXPECT_EQ(Decode(decoder,
                     "11"
                     "00"
                     "11"
                     "00"),
              "e");
    // Eleven 1 bits, and ten (a code no ASCII character has), make nothing;
    // the next character still comes, and idle 0 bits print nothing.
    EXPECT_EQ(Decode(decoder,
                     "11111111111"
                     "00"
                     "1111111111"
                     "00"
                     "1"
                     "0000000"),
              " ");
    // After a reset (a gap in the signal), the bits up to the next "00" are dropped.
    decoder.Reset();
    EXPECT_EQ(Decode(decoder,
                     "1"
                     "00"
                     "1"
                     "00"),
              " ");
}

}  // namespace
