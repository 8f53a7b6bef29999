// Received 5-bit codes become characters on the way into the receive queue.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "serial/COMPort.h"

namespace {

class BaudotPort : public ::testing::Test {
protected:
    void SetUp() override { port.SetPort(1, 0, 0, 5, 45); }

    // Feeds codes as the reader thread would and returns what was queued.
    std::string Receive(std::vector<unsigned char> codes)
    {
        port.ProcessReceived(codes.data(), static_cast<int>(codes.size()));
        std::string text(static_cast<size_t>(port.size()), '\0');
        port.read(reinterpret_cast<unsigned char*>(text.data()), static_cast<int>(text.size()));
        return text;
    }

    CCOMPort port;
};

TEST_F(BaudotPort, StandardSetFollowsTheShiftsAndReplacesTheDollar)
{
    EXPECT_EQ(Receive({31, 5, 9, 27, 5, 9}), std::string("SD'\xA4"));
}

TEST_F(BaudotPort, LettersAndFiguresTablesCoverEveryCode)
{
    std::vector<unsigned char> letters, figures{27};
    for (unsigned char code = 0; code < 32; ++code) {
        letters.push_back(code);
        figures.push_back(code);
    }
    port.SetExtended(1);
    // Code 27 inside the letters run moves to figures: the rest comes out there.
    EXPECT_EQ(Receive(letters), std::string("E\nA SIU\rDRJNFCKTZLWHYPQOBG") + "./=");
    EXPECT_EQ(Receive(figures), std::string("3\n- '87\r$4*,!:(5+)2#6019?&") + "./=");
}

TEST_F(BaudotPort, ExtendedSetKeepsThePunctuationStandardDrops)
{
    port.SetExtended(1);
    EXPECT_EQ(Receive({27, 13, 20, 26, 9}), "!#&$");
    port.SetExtended(0);
    EXPECT_EQ(Receive({13, 20, 26}), "");
}

TEST_F(BaudotPort, ChunkWithoutCharactersStillRaisesHasData)
{
    EXPECT_EQ(Receive({27, 13}), "");
    port.ProcessReceived(std::vector<unsigned char>{27, 13}.data(), 2);
    EXPECT_EQ(port.HasData(), 1);
    EXPECT_EQ(port.size(), 0);
}

TEST_F(BaudotPort, MilitaryFiguresDifferInThreePlaces)
{
    port.SetMilitary(1);
    EXPECT_EQ(Receive({27, 17, 30, 11}), "\";'");
    port.SetMilitary(0);
    EXPECT_EQ(Receive({27, 17, 30, 11}), "+=*");
}

TEST_F(BaudotPort, MilitarySpaceAndLineCodesKeepTheShift)
{
    port.SetMilitary(1);
    EXPECT_EQ(Receive({27, 4, 2, 8, 1}), " \n\r3");
}

TEST_F(BaudotPort, UpperBitsAreIgnoredExceptTheTilde)
{
    EXPECT_EQ(Receive({0x25, 0xE1}), "SE");
    EXPECT_EQ(Receive({0x7E}), "~");
    port.SetMilitary(1);
    EXPECT_EQ(Receive({0x7E}), "V");  // 0x7E & 0x1F = 30
}

TEST_F(BaudotPort, FlipASCIISignTogglesTheReceiveShift)
{
    port.FlipASCIISign();
    EXPECT_EQ(Receive({1}), "3");
    port.FlipASCIISign();
    EXPECT_EQ(Receive({1}), "E");
}

TEST_F(BaudotPort, ChangedSettingsReturnBothShiftsToLetters)
{
    EXPECT_EQ(Receive({27}), "");
    port.FlipBaudotSign();
    EXPECT_EQ(port.ShiftCode(), 27);
    port.SetPort(1, 0, 0, 5, 50);
    EXPECT_EQ(Receive({1}), "E");
    EXPECT_EQ(port.ShiftCode(), 31);
}

TEST(EightBitPort, BytesAreQueuedUnchanged)
{
    CCOMPort port;
    unsigned char bytes[] = {0x00, 0x41, 0xFF};
    port.ProcessReceived(bytes, 3);
    EXPECT_EQ(port.size(), 3);
    EXPECT_EQ(port.HasData(), 1);
    unsigned char out[10] = {};
    EXPECT_EQ(port.read(out, 10), 3);
    EXPECT_EQ(std::vector<unsigned char>(out, out + 3), (std::vector<unsigned char>{0x00, 0x41, 0xFF}));
    EXPECT_EQ(port.HasData(), 0);
    EXPECT_EQ(port.size(), 0);
}

TEST(EightBitPort, EmptyChunkChangesNothing)
{
    CCOMPort port;
    unsigned char none[1] = {7};
    port.ProcessReceived(none, 0);
    EXPECT_EQ(port.HasData(), 0);
}

}  // namespace
