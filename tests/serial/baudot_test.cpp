// Received 5-bit codes become characters on the way into the receive queue.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "serial/COMPort.h"

namespace {

// Feeds codes as the reader thread would and returns what was queued.
std::string Receive(CCOMPort& port, std::vector<unsigned char> codes)
{
    port.ProcessReceived(codes.data(), static_cast<int>(codes.size()));
    std::string text(static_cast<size_t>(port.size()), '\0');
    port.read(reinterpret_cast<unsigned char*>(text.data()), static_cast<int>(text.size()));
    return text;
}

std::vector<unsigned char> EveryCode(std::vector<unsigned char> codes)
{
    for (unsigned char code = 0; code < 32; ++code)
        codes.push_back(code);
    return codes;
}

TEST(BaudotPort, CodesDecodeByShiftAndCharacterSet)
{
    struct Case {
        int extended;
        int military;
        std::vector<unsigned char> codes;
        std::string text;
    };
    const Case cases[] = {
        // The standard set replaces the dollar and drops what it cannot print.
        {0, 0, {31, 5, 9, 27, 5, 9}, "SD'\xA4"},
        {0, 0, {27, 13, 20, 26}, ""},
        {1, 0, {27, 13, 20, 26, 9}, "!#&$"},
        // Code 27 inside the letters run moves to figures: the rest comes out there.
        {1, 0, EveryCode({}), std::string("E\nA SIU\rDRJNFCKTZLWHYPQOBG") + "./="},
        {1, 0, EveryCode({27}), std::string("3\n- '87\r$4*,!:(5+)2#6019?&") + "./="},
        {0, 1, {27, 17, 30, 11}, "\";'"},
        {0, 0, {27, 17, 30, 11}, "+=*"},
        // Space and line codes keep the military shift.
        {0, 1, {27, 4, 2, 8, 1}, " \n\r3"},
        // The upper bits are ignored, except in the tilde of the standard set.
        {0, 0, {0x25, 0xE1}, "SE"},
        {0, 0, {0x7E}, "~"},
        {0, 1, {0x7E}, "V"},
    };
    for (const Case& c : cases) {
        CCOMPort port;
        port.SetPort(1, 0, 0, 5, 45);
        port.SetExtended(c.extended);
        port.SetMilitary(c.military);
        EXPECT_EQ(Receive(port, c.codes), c.text) << "extended " << c.extended << ", military " << c.military;
    }
}

TEST(BaudotPort, ShiftsFlipAndChangedSettingsReturnBothToLetters)
{
    CCOMPort port;
    port.SetPort(1, 0, 0, 5, 45);
    port.FlipASCIISign();
    EXPECT_EQ(Receive(port, {1}), "3");
    port.FlipASCIISign();
    EXPECT_EQ(Receive(port, {1}), "E");

    // A chunk without characters still raises HasData.
    EXPECT_EQ(Receive(port, {27}), "");
    port.ProcessReceived(std::vector<unsigned char>{13}.data(), 1);
    EXPECT_EQ(port.HasData(), 1);
    EXPECT_EQ(port.size(), 0);
    port.FlipBaudotSign();
    EXPECT_EQ(port.ShiftCode(), 27);
    port.SetPort(1, 0, 0, 5, 50);
    EXPECT_EQ(Receive(port, {1}), "E");
    EXPECT_EQ(port.ShiftCode(), 31);
}

TEST(EightBitPort, BytesAreQueuedUnchanged)
{
    CCOMPort port;
    unsigned char bytes[] = {0x00, 0x41, 0xFF};
    port.ProcessReceived(bytes, 0);
    EXPECT_EQ(port.HasData(), 0);
    port.ProcessReceived(bytes, 3);
    EXPECT_EQ(port.HasData(), 1);
    unsigned char out[10] = {};
    EXPECT_EQ(port.read(out, 10), 3);
    EXPECT_EQ(std::vector<unsigned char>(out, out + 3), std::vector<unsigned char>(bytes, bytes + 3));
    EXPECT_EQ(port.HasData(), 0);
}

}  // namespace
