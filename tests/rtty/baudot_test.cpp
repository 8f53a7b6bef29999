// The Baudot codec: shifts inserted and followed, unshift on space, what is dropped.
#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "baudot.h"
#include "rtty_channel.h"

namespace {

using rtty::BaudotDecoder;
using rtty::BaudotEncoder;
using rtty::kBaudotFigures;
using rtty::kBaudotLetters;
using rtty::kBaudotSpace;

std::vector<uint8_t> EncodeAll(BaudotEncoder& encoder, const std::u32string& text)
{
    std::vector<uint8_t> codes;
    for (char32_t ch : text) {
        uint8_t out[BaudotEncoder::kMaxCodesPerChar];
        const int count = encoder.Encode(ch, out);
        codes.insert(codes.end(), out, out + count);
    }
    return codes;
}

std::string DecodeAll(const std::vector<uint8_t>& codes)
{
    BaudotDecoder decoder;
    std::string text;
    for (uint8_t code : codes) {
        if (const char ch = decoder.Decode(code))
            text += ch;
    }
    return text;
}

std::u32string Wide(const std::string& text)
{
    return std::u32string(text.begin(), text.end());
}

TEST(BaudotEncoder, ShiftsOnlyWhereTheCaseChanges)
{
    BaudotEncoder encoder;
    const std::vector<uint8_t> codes = EncodeAll(encoder, U"AB12C");
    const std::vector<uint8_t> expected = {kBaudotLetters, 0x03, 0x19, kBaudotFigures, 0x17, 0x13, kBaudotLetters, 0x0E};
    EXPECT_EQ(codes, expected);
}

TEST(BaudotEncoder, FigureAfterSpaceIsShiftedAgain)
{
    // The receiver returns to letters on the space, so "1 2" needs two figures shifts.
    BaudotEncoder encoder;
    const std::vector<uint8_t> codes = EncodeAll(encoder, U"1 2");
    const std::vector<uint8_t> expected = {kBaudotFigures, 0x17, kBaudotSpace, kBaudotFigures, 0x13};
    EXPECT_EQ(codes, expected);
}

TEST(BaudotEncoder, CaseFreeCharactersNeedAShiftOnlyWhenTheReceiverIsUnknown)
{
    BaudotEncoder encoder;
    EXPECT_EQ(EncodeAll(encoder, U"\r"), (std::vector<uint8_t>{kBaudotLetters, 0x08}));
    EXPECT_EQ(EncodeAll(encoder, U"7\n\r"), (std::vector<uint8_t>{kBaudotFigures, 0x07, 0x02, 0x08}));
    encoder.ForgetShift();
    EXPECT_EQ(EncodeAll(encoder, U"\n"), (std::vector<uint8_t>{kBaudotLetters, 0x02}));
    encoder.NoteLettersShift();
    EXPECT_EQ(EncodeAll(encoder, U"E"), (std::vector<uint8_t>{0x01}));
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
    EXPECT_EQ(EncodeAll(encoder, U"6"), (std::vector<uint8_t>{0x15}));
}

TEST(BaudotCodec, EveryCharacterRoundTripsInUpperCase)
{
    std::string lower = rtty::testing::kEveryCharacter;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    BaudotEncoder encoder;
    EXPECT_EQ(DecodeAll(EncodeAll(encoder, Wide(lower))), rtty::testing::kEveryCharacter);
}

TEST(BaudotDecoder, FollowsShiftsAndUnshiftsOnSpace)
{
    // FIGS 1 2 SPACE then Q W without a new shift: letters again after the space.
    const std::vector<uint8_t> codes = {kBaudotFigures, 0x17, 0x13, kBaudotSpace, 0x17, 0x13,
                                        kBaudotFigures, 0x08, 0x02, 0x17, kBaudotLetters, 0x17};
    EXPECT_EQ(DecodeAll(codes), "12 QW\r\n1Q");
}

TEST(BaudotDecoder, ShiftsAndBlankPrintNothing)
{
    BaudotDecoder decoder;
    EXPECT_EQ(decoder.Decode(kBaudotFigures), 0);
    EXPECT_EQ(decoder.Decode(kBaudotLetters), 0);
    EXPECT_EQ(decoder.Decode(0x00), 0);
    // Only the low five bits count.
    EXPECT_EQ(decoder.Decode(0xE3), 'A');
}

} // namespace
