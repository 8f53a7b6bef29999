// The Baudot codec: shifts inserted and followed, unshift on space, what is dropped.
#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "Baudot.h"
#include "rtty_channel.h"

namespace {

using rz::rtty::BaudotEncoder;
using Codes = std::vector<uint8_t>;

constexpr uint8_t kLtrs = rz::rtty::kBaudotLetters;
constexpr uint8_t kFigs = rz::rtty::kBaudotFigures;
constexpr uint8_t kSpace = rz::rtty::kBaudotSpace;

Codes EncodeAll(BaudotEncoder& encoder, const std::u32string& text)
{
    Codes codes;
    for (char32_t ch : text) {
        uint8_t out[BaudotEncoder::kMaxCodesPerChar];
        codes.insert(codes.end(), out, out + encoder.Encode(ch, out));
    }
    return codes;
}

std::string DecodeAll(const Codes& codes, bool unshiftOnSpace)
{
    rz::rtty::BaudotDecoder decoder(unshiftOnSpace);
    std::string text;
    for (uint8_t code : codes) {
        if (const char ch = decoder.Decode(code))
            text += ch;
    }
    return text;
}

TEST(BaudotEncoder, ShiftsWhereTheFarReceiverNeedsOne)
{
    const struct {
        std::u32string text;
        Codes codes;
    } cases[] = {
        {U"AB12C", {kLtrs, 0x03, 0x19, kFigs, 0x17, 0x13, kLtrs, 0x0E}},
        // After a space in figures the far case depends on the receiver: both
        // cases get their shift.
        {U"1 2", {kFigs, 0x17, kSpace, kFigs, 0x13}},
        {U"1 A", {kFigs, 0x17, kSpace, kLtrs, 0x03}},
        {U"1 \r\n 2", {kFigs, 0x17, kSpace, 0x08, 0x02, kSpace, kFigs, 0x13}},
        // A space in letters leaves every receiver in letters.
        {U"A B", {kLtrs, 0x03, kSpace, 0x19}},
        // CR and LF need a shift only while the far receiver's case is unknown.
        {U"\r", {kLtrs, 0x08}},
        {U"7\n\r", {kFigs, 0x07, 0x02, 0x08}},
    };
    for (const auto& c : cases) {
        BaudotEncoder encoder;
        EXPECT_EQ(EncodeAll(encoder, c.text), c.codes) << std::string(c.text.begin(), c.text.end());
    }
    BaudotEncoder afterIdle;
    afterIdle.NoteLettersShift();
    EXPECT_EQ(EncodeAll(afterIdle, U"E"), Codes{0x01});
}

TEST(BaudotEncoder, DropsWhatBaudotCannotCarryWithoutTouchingTheShift)
{
    BaudotEncoder encoder;
    EncodeAll(encoder, U"5");
    for (char32_t ch : std::u32string(U"@+=*%<>[]\\^_`{|}~\t") + char32_t{0} + U"\u00e9\u00c4\u20ac\U0001F600") {
        uint8_t out[BaudotEncoder::kMaxCodesPerChar] = {0xEE, 0xEE};
        EXPECT_EQ(encoder.Encode(ch, out), 0) << static_cast<uint32_t>(ch);
        EXPECT_EQ(out[0], 0xEE);
    }
    // Still in figures: no shift before the next figure.
    EXPECT_EQ(EncodeAll(encoder, U"6"), Codes{0x15});
}

TEST(BaudotCodec, TextPrintsRightInUpperCaseWhetherTheReceiverUnshiftsOnSpaceOrNot)
{
    std::u32string lower;
    for (char c : std::string(rz::rtty::testing::kEveryCharacter))
        lower += static_cast<char32_t>(std::tolower(static_cast<unsigned char>(c)));
    for (const std::u32string& text : {lower, std::u32string(U"14.085 MHZ 10 M"), std::u32string(U"QTH 1 2 ABC 3")}) {
        BaudotEncoder encoder;
        const Codes codes = EncodeAll(encoder, text);
        std::string expected;
        for (char32_t ch : text)
            expected += static_cast<char>(std::toupper(static_cast<int>(ch)));
        EXPECT_EQ(DecodeAll(codes, true), expected);
        EXPECT_EQ(DecodeAll(codes, false), expected);
    }
}

TEST(BaudotDecoder, FollowsShiftsAndUnshiftsOnSpaceWhenSet)
{
    // Q W after the space without a new shift: letters again, or still figures.
    const Codes codes{kFigs, 0x17, 0x13, kSpace, 0x17, 0x13, kFigs, 0x08, 0x02, 0x17, kLtrs, 0x17, kFigs, kLtrs, 0x00};
    EXPECT_EQ(DecodeAll(codes, true), "12 QW\r\n1Q");
    EXPECT_EQ(DecodeAll(codes, false), "12 12\r\n1Q");
    // Only the low five bits count.
    EXPECT_EQ(DecodeAll({0xE3}, true), "A");
}

}  // namespace
