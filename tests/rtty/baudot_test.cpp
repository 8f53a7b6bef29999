// The Baudot codec: text of any case prints right on receivers that unshift on
// space and on those that do not, and what Baudot cannot carry is dropped.
#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "Baudot.h"
#include "RttyChannel.h"

namespace {

using rz::rtty::BaudotEncoder;

TEST(BaudotCodec, TextPrintsRightInUpperCaseWhetherTheReceiverUnshiftsOnSpaceOrNot)
{
    std::u32string lower;
    for (char c : std::string(rz::rtty::testing::kEveryCharacter))
        lower += static_cast<char32_t>(std::tolower(static_cast<unsigned char>(c)));
    // Characters Baudot cannot carry go without a trace, the shift state untouched.
    const std::u32string unsendable = std::u32string(U"@+=*%<>[]\\^_`{|}~\t\u00e9\u20ac\U0001F600") + char32_t{0};
    for (const std::u32string& text : {lower, std::u32string(U"14.085 MHZ 10 M"),
                                       std::u32string(U"QTH 1 2 ABC 3\r\n 7 X"), U"5" + unsendable + U"6"}) {
        BaudotEncoder encoder;
        std::vector<uint8_t> codes;
        std::string expected;
        for (char32_t ch : text) {
            uint8_t out[BaudotEncoder::kMaxCodesPerChar];
            codes.insert(codes.end(), out, out + encoder.Encode(ch, out));
            if (unsendable.find(ch) == std::u32string::npos)
                expected += static_cast<char>(std::toupper(static_cast<int>(ch)));
        }
        for (const bool unshiftOnSpace : {true, false}) {
            rz::rtty::BaudotDecoder decoder(unshiftOnSpace);
            std::string printed;
            for (uint8_t code : codes)
                if (const char ch = decoder.Decode(code))
                    printed += ch;
            EXPECT_EQ(printed, expected) << (unshiftOnSpace ? "unshifting on space" : "not unshifting on space");
        }
    }
}

}  // namespace
