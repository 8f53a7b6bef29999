// Characters through the running module: sent, encoded, played over the loopback
// card, captured, decoded and posted to the host.
#include <algorithm>
#include <thread>

#include "running_fixture.h"

namespace running {
namespace {

class RunningCodecTest : public RunningTest {
protected:
    // Sends the text, then waits until it has been decoded in full.
    void RoundTrip(const std::u16string& text)
    {
        for (char16_t unit : text)
            sendW(unit);
        EXPECT_TRUE(host.PumpUntil([&] { return Chars().size() >= text.size(); }, 30s));
        EXPECT_EQ(SentChars(), Units(text));
        EXPECT_EQ(Chars(), Units(text));
    }

    void ExpectEveryDecodeGot3250(const CodecLog& log)
    {
        const std::vector<int> sizes = Entries(log.decodeSizes);
        EXPECT_FALSE(sizes.empty());
        EXPECT_EQ(std::count(sizes.begin(), sizes.end(), 3250), static_cast<long>(sizes.size()));
    }
};

TEST_F(RunningCodecTest, TextComesBackInOrderAt8000)
{
    Load({"DGcodecwide.so"});
    const auto codec = Hold("DGcodecwide.so");
    Start(1, kTransmit | kReceive);
    RoundTrip(u"The quick brown fox jumps over the lazy dog 0123456789 ~!@#$%^&*() THE END");
    ExpectEveryDecodeGot3250(*codec->Log());
}

TEST_F(RunningCodecTest, TextComesBackInOrderWith48KHzCard)
{
    Load({"DGcodecwide.so"}, true);
    const auto codec = Hold("DGcodecwide.so");
    Start(1, kTransmit | kReceive);
    RoundTrip(u"Sixfold: abcdefghijklmnopqrstuvwxyz ABCDEFGHIJKLMNOPQRSTUVWXYZ");
    ExpectEveryDecodeGot3250(*codec->Log());
}

TEST_F(RunningCodecTest, NarrowCodecSignExtendsSentBytesAndSkipsHighDecodedBytes)
{
    Load({"DGcodecnarrow.so"});
    const auto codec = Hold("DGcodecnarrow.so");
    Start(2, kTransmit | kReceive);
    for (char c : std::string("ab\xE9" "c"))
        sendA(c);
    ASSERT_TRUE(host.PumpUntil([&] { return Chars().size() >= 3; }, 30s));
    EXPECT_EQ(SentChars(), (std::vector<uint32_t>{'a', 'b', 0xFFFFFFE9u, 'c'}));
    host.PumpFor(500ms);
    EXPECT_EQ(Chars(), (std::vector<uint32_t>{'a', 'b', 'c'}));
}

TEST_F(RunningCodecTest, FortyQueuedCharactersAreEncodedInBatchesOf19)
{
    Load({"DGcodecwide.so"});
    const auto codec = Hold("DGcodecwide.so");
    Start(1, kReceive);
    const std::u16string text = u"0123456789abcdefghijklmnopqrstuvwxyzABCD";
    ASSERT_EQ(text.size(), 40u);
    for (char16_t unit : text)
        sendW(unit);
    EXPECT_EQ(isSendIdle(), 0);
    setSoundMode(kTransmit | kReceive, -1);
    ASSERT_TRUE(host.PumpUntil([&] { return SentChars().size() == 40; }, 10s));
    EXPECT_EQ(Entries(codec->Log()->encodeBatches), (std::vector<int>{19, 19, 2}));
    EXPECT_EQ(SentChars(), Units(text));
}

TEST_F(RunningCodecTest, AnsiCharactersAreMappedThroughWindows1252)
{
    Load({"DGcodecwide.so"});
    const auto codec = Hold("DGcodecwide.so");
    Start(1, kTransmit | kReceive);
    for (char c : std::string("\x80\x9F\xE9" "A"))
        sendA(c);
    ASSERT_TRUE(host.PumpUntil([&] { return SentChars().size() == 4; }, 10s));
    EXPECT_EQ(SentChars(), (std::vector<uint32_t>{0x20AC, 0x0178, 0x00E9, 'A'}));
    EXPECT_EQ(Entries(codec->Log()->encodedUnits), (std::vector<int>{0x20AC, 0x0178, 0x00E9, 'A'}));
}

TEST_F(RunningCodecTest, AnEncoderWithoutAudioGetsNoSentChar)
{
    Load({"DGcodecsilent.so"});
    const auto codec = Hold("DGcodecsilent.so");
    Start(32, kTransmit | kReceive);
    for (char16_t unit : std::u16string(u"xyz"))
        sendW(unit);
    ASSERT_TRUE(harness::WaitUntil([&] { return codec->Log()->encodedUnits.count == 3; }, 10s));
    ASSERT_TRUE(harness::WaitUntil([&] { return isSendIdle() == 1; }, 10s));
    host.PumpFor(200ms);
    EXPECT_TRUE(SentChars().empty());
}

TEST_F(RunningCodecTest, SendIdleFollowsTheQueueAndHasData)
{
    Load({"DGcodecwide.so"});
    const auto codec = Hold("DGcodecwide.so");
    Start(1, kReceive);
    EXPECT_EQ(isSendIdle(), 1);
    sendW(0xFFFF);
    EXPECT_EQ(isSendIdle(), 1);
    sendW(u'q');
    EXPECT_EQ(isSendIdle(), 0);
    codec->Log()->hasData = 1;
    setSoundMode(kTransmit | kReceive, -1);
    ASSERT_TRUE(host.PumpUntil([&] { return SentChars().size() == 1; }, 10s));
    EXPECT_EQ(isSendIdle(), 0);
    codec->Log()->hasData = 0;
    EXPECT_TRUE(harness::WaitUntil([&] { return isSendIdle() == 1; }, 10s));
    EXPECT_EQ(SentChars(), (std::vector<uint32_t>{'q'}));
}

TEST_F(RunningCodecTest, CharactersWithoutAModeAreDropped)
{
    Load({"DGcodecwide.so"});
    const auto codec = Hold("DGcodecwide.so");
    setFreq(8000.0);
    setSoundMode(kReceive, -1);
    sendW(u'a');
    sendA('b');
    EXPECT_EQ(isSendIdle(), 1);
    setRUZada(1);
    setSoundMode(kTransmit | kReceive, -1);
    sendW(u'c');
    ASSERT_TRUE(host.PumpUntil([&] { return SentChars().size() == 1; }, 10s));
    host.PumpFor(200ms);
    EXPECT_EQ(SentChars(), (std::vector<uint32_t>{'c'}));
}

TEST_F(RunningCodecTest, TwiddleIsAskedForASecondWhileLittleIsPending)
{
    Load({"DGcodecwide.so"});
    const auto codec = Hold("DGcodecwide.so");
    const DWORD speed = module->Get<DWORD (*)()>("GetDGProcessorSpeedKHz")();
    Start(1, kTransmit | kReceive);
    ASSERT_TRUE(harness::WaitUntil([&] { return codec->Log()->twiddleWanted.count >= 4; }, 10s));
    const std::vector<int> wanted = Entries(codec->Log()->twiddleWanted);
    const int expected = speed < 1000 ? 32000 : 8000;
    EXPECT_EQ(std::count(wanted.begin(), wanted.end(), expected), static_cast<long>(wanted.size()));
    // Each request tops the playback up past N bytes (N samples); the card then
    // asks again only as that drains, about one request per N/2 samples.
    const int before = codec->Log()->twiddleWanted.count;
    std::this_thread::sleep_for(1s);
    EXPECT_LE(codec->Log()->twiddleWanted.count - before, 8);
}

}  // namespace
}  // namespace running
