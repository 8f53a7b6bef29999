// The port's queues as its user and the COM exports see them, on a closed port.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "serial/COMPort.h"

namespace {

void Receive(CCOMPort& port, std::string bytes)
{
    port.ProcessReceived(reinterpret_cast<unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
}

TEST(ComPortQueues, SendFlagsLookAtBothQueuesAndClearingEmptiesOnlyTheSendSide)
{
    CCOMPort port;
    EXPECT_EQ(port.HasSendData(), 0);
    Receive(port, "in");
    EXPECT_EQ(port.HasSendData(), 1);
    EXPECT_EQ(port.HasMoreData(), 1);
    EXPECT_EQ(port.HasSendThreadData(), 0);
    unsigned char out[2] = {'o', 'u'};
    port.write(out, 2);
    port.ForceTransmitOn(1);
    ASSERT_EQ(port.Transmitting(), 1);
    port.ClearBufferedData();
    EXPECT_EQ(port.outsize(), 0);
    EXPECT_EQ(port.size(), 2);
    EXPECT_EQ(port.TransmitForceOn(), 0);
    EXPECT_EQ(port.Transmitting(), 0);
    port.Stop();
    port.ClearBufferedData();
    EXPECT_EQ(port.TransmitDisabled(), 0);

    port.write(out, 2);
    port.Empty();
    EXPECT_EQ(port.outsize(), 0);
    EXPECT_EQ(port.size(), 0);
    EXPECT_EQ(port.HasData(), 0);
}

// The exports' tests read whole and cut blocks; after a partial read of the
// queue, a block is handed out only once something new has come.
TEST(ComPortQueues, NothingNewSinceAPartialReadGivesNoBlock)
{
    CCOMPort port;
    unsigned char buffer[4];
    Receive(port, "0123456789");
    port.read(buffer, 4);
    Receive(port, "");
    EXPECT_EQ(port.ReadReceiveBlock(buffer, 4), 0);
    EXPECT_EQ(port.size(), 6);
}

TEST(ComPortQueues, EmptyWriteOnAnIdlePortReportsTransmitEmpty)
{
    CCOMPort port;
    port.SetTXEmpty(0);
    port.QueueForSending(nullptr, 0);
    EXPECT_EQ(port.TXEmpty(), 1);
    const unsigned char bytes[2] = {1, 2};
    port.SetTXEmpty(0);
    port.QueueForSending(bytes, 2);
    EXPECT_EQ(port.TXEmpty(), 0);
    EXPECT_EQ(port.outsize(), 2);
    port.QueueForSending(bytes, -3);
    EXPECT_EQ(port.outsize(), 2);
}

TEST(ComPortSettings, FiveBitPortsKeyWithRts)
{
    CCOMPort port;
    EXPECT_EQ(port.GetRTS(), 0);
    port.SetPort(0, 0, 0, 5, 45);
    EXPECT_EQ(port.GetPort(), 1);
    EXPECT_EQ(port.GetRTS(), 1);
    port.SetPort(255, 2, 1, 7, 300);
    EXPECT_EQ(port.GetPort(), 255);
    EXPECT_EQ(port.GetRTS(), 0);
}

}  // namespace
