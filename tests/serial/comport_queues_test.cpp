// The port's queues on a closed port: received 5-bit codes become characters on
// the way in, bytes pass unchanged, and the send flags look at both queues.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "serial/COMPort.h"

namespace {

// Feeds bytes as the reader thread would and returns what was queued.
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

TEST(BaudotPort, ShiftsFlipAndChangedSettingsReturnBothToLettersAndKeying)
{
    CCOMPort port;
    EXPECT_EQ(port.GetRTS(), 0);
    port.SetPort(0, 0, 0, 5, 45);
    EXPECT_EQ(port.GetPort(), 1);
    EXPECT_EQ(port.GetRTS(), 1) << "5-bit ports key with RTS";
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

    port.SetPort(255, 2, 1, 8, 300);
    EXPECT_EQ(std::pair(port.GetPort(), port.GetRTS()), std::pair(255, 0));
    EXPECT_EQ(Receive(port, {0x00, 0x41, 0xFF}), std::string("\0A\xFF", 3)) << "bytes pass unchanged";
    EXPECT_EQ(port.HasData(), 0);
}

TEST(ComPortQueues, SendFlagsLookAtBothQueuesAndClearingEmptiesOnlyTheSendSide)
{
    CCOMPort port;
    EXPECT_EQ(port.HasSendData(), 0);
    port.ProcessReceived(std::vector<unsigned char>{'i', 'n'}.data(), 2);
    EXPECT_EQ(std::tuple(port.HasSendData(), port.HasMoreData(), port.HasSendThreadData()), std::tuple(1, 1, 0));
    unsigned char out[2] = {'o', 'u'};
    port.write(out, 2);
    port.ForceTransmitOn(1);
    ASSERT_EQ(port.Transmitting(), 1);
    port.ClearBufferedData();
    EXPECT_EQ(std::tuple(port.outsize(), port.size(), port.TransmitForceOn(), port.Transmitting()),
              std::tuple(0, 2, 0, 0));
    port.Stop();
    port.ClearBufferedData();
    EXPECT_EQ(port.TransmitDisabled(), 0);

    port.write(out, 2);
    port.Empty();
    EXPECT_EQ(std::tuple(port.outsize(), port.size(), port.HasData()), std::tuple(0, 0, 0));

    // An empty write on an idle port reports transmit empty; a negative count
    // queues nothing.
    port.SetTXEmpty(0);
    port.QueueForSending(nullptr, 0);
    EXPECT_EQ(port.TXEmpty(), 1);
    port.SetTXEmpty(0);
    port.QueueForSending(out, 2);
    EXPECT_EQ(port.TXEmpty(), 0);
    port.QueueForSending(out, -3);
    EXPECT_EQ(port.outsize(), 2);
}

// After a partial read of the queue, a block is handed out only once something
// new has come.
TEST(ComPortQueues, NothingNewSinceAPartialReadGivesNoBlock)
{
    CCOMPort port;
    unsigned char buffer[4];
    EXPECT_EQ(Receive(port, {}), "");
    EXPECT_EQ(port.HasData(), 0);
    port.ProcessReceived(reinterpret_cast<unsigned char*>(std::string("0123456789").data()), 10);
    port.read(buffer, 4);
    port.ProcessReceived(buffer, 0);
    EXPECT_EQ(port.ReadReceiveBlock(buffer, 4), 0);
    EXPECT_EQ(port.size(), 6);
}

}  // namespace
