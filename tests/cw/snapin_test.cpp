// DGcw.so as the module sees it (setup record, encoder capacity and queue, bad
// arguments, the settings file and the control keys), and inside the whole
// module and dgterm as an operator runs it: text sent over the loopback card
// comes back as "DG_CHAR", and dgterm writes and reads CW files.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include <DGSnapin.h>
#include <RUZada.h>

#include "CwChannel.h"
#include "HostHarness.h"
#include "SnapinLibrary.h"

namespace {

using namespace std::chrono_literals;
using namespace rz::cw::testing;

constexpr int16_t kSentinel = 0x5A5A;

class CwSnapin : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dg.Loaded());
        dg.init(8000.0);
    }

    // `text` and what stays queued, then silence enough for the last character to print.
    std::vector<int16_t> Send(const std::string& text)
    {
        std::vector<int16_t> audio;
        std::vector<int16_t> block(kEncodeCapacity);
        for (int n = dg.encodeA(block.data(), kEncodeCapacity, text.data(), static_cast<int>(text.size())); n > 0;
             n = dg.encodeA(block.data(), kEncodeCapacity, nullptr, 0))
            audio.insert(audio.end(), block.begin(), block.begin() + n);
        audio.resize(audio.size() + 3 * 8000);
        return audio;
    }

    rz::test::support::SnapinLibrary dg{DGCW_PATH};
};

TEST_F(CwSnapin, ExportsKeepWhatDoesNotFitAndDropWhatMorseCannotCarry)
{
    std::vector<int16_t> block(kEncodeCapacity + 16, kSentinel);
    EXPECT_EQ(dg.encodeA(block.data(), 100, "E", 1), 100);
    EXPECT_TRUE(std::all_of(block.begin() + 100, block.end(), [](int16_t s) { return s == kSentinel; }));
    EXPECT_NE(dg.hasData(), 0);
    // E at 20 WPM: a dot and the gap after the character, 4 dots of 480 samples.
    EXPECT_EQ(100 + dg.encodeA(block.data(), kEncodeCapacity, nullptr, 0), 4 * 480);
    EXPECT_EQ(dg.hasData(), 0);
    EXPECT_EQ(dg.encodeA(block.data(), kEncodeCapacity, "#%*~\x01", 5), 0);
    EXPECT_EQ(dg.encodeA(nullptr, 0, "E", 1), 0);
    EXPECT_EQ(dg.encodeA(block.data(), -5, nullptr, 0), 0);
    // Idle is silence.
    std::fill(block.begin(), block.end(), kSentinel);
    EXPECT_EQ(dg.encodeA(block.data(), kEncodeCapacity, nullptr, 0), 4 * 480);
    EXPECT_EQ(dg.twiddle(block.data(), 1000), 1000);
    EXPECT_TRUE(std::all_of(block.begin(), block.begin() + 1000, [](int16_t s) { return s == 0; }));
    EXPECT_EQ(dg.Decode(Send("cq de dl2xyz#<AR")), "CQ DE DL2XYZ");

    // The decoder takes odd calls and holds what does not fit.
    dg.init(8000.0);
    std::vector<int16_t> audio = Send("PARIS PARIS");
    char chars[DG_DECODE_CAPACITY] = {};
    EXPECT_EQ(dg.decodeA(nullptr, kDecodeBlock, chars, DG_DECODE_CAPACITY), 0);
    EXPECT_EQ(dg.decodeA(audio.data(), -20, chars, DG_DECODE_CAPACITY), 0);
    EXPECT_EQ(dg.decodeA(audio.data(), static_cast<int>(audio.size()), chars, 0), 0);
    EXPECT_EQ(dg.decodeA(nullptr, 0, chars, 4), 4);
    EXPECT_EQ(std::string(chars, 4), "PARI");
    EXPECT_EQ(dg.decodeA(nullptr, 0, chars, DG_DECODE_CAPACITY), 7);
    EXPECT_EQ(std::string(chars, 7), "S PARIS");
}

TEST_F(CwSnapin, SettingsAndWhatItHearsAreReadThroughTheKeys)
{
    // Values out of range fall back to their defaults.
    const uint32_t keys[] = {DG_KEY_CARRIER, DG_KEY_WPM, DG_KEY_FARNSWORTH, DG_KEY_AFC, DG_KEY_SQUELCH};
    for (const auto& [settings, values] :
         {std::pair{"[CW]\nCarrier=100\nWPM=99\nFarnsworth=40\n", std::array{7000, 20, 0, 1, 35}},
          {"[CW]\nCarrier=1200\nWPM=30\nFarnsworth=15\nAFC=0\nSquelch=50\n", {12000, 30, 15, 0, 50}}}) {
        dg.UseSettings(settings);
        dg.init(8000.0);
        for (size_t i = 0; i < values.size(); ++i)
            EXPECT_EQ(dg.Read(keys[i]), values[i]) << settings << " key " << keys[i];
    }
    // The receiver reports what it hears: the speed of the characters, where it listens, the quality.
    const std::string text = "CQ DE DL2XYZ";
    EXPECT_THAT(dg.Decode(Send("VVV VVV " + text)), ::testing::EndsWith(" " + text));
    EXPECT_NEAR(dg.Read(DG_KEY_RX_WPM), 30, 2);
    EXPECT_EQ(dg.Read(DG_KEY_TRACKED), 12000);
    EXPECT_GT(dg.Read(DG_KEY_QUALITY), 50);
    dg.init(8000.0);
    dg.Write(DG_KEY_AFC, 1);
    EXPECT_THAT(dg.Decode(AddNoise(KeyText("VVV VVV " + text, 30, 0, 1260.0), 0.0, 4, 8000, 3 * 8000, kKeyDownPower)),
                ::testing::EndsWith(" " + text));
    EXPECT_NEAR(dg.Read(DG_KEY_TRACKED), 12600, 20);
}

TEST_F(CwSnapin, NamesItselfAndTakesTheControlKeys)
{
    DGSETUP setup{};
    setup.cbSize = DGSETUP_SIZE;
    dg.getSetup(&setup);
    EXPECT_EQ(std::u16string(setup.szName), u"CW");
    EXPECT_EQ(setup.qwMode, 16u);
    EXPECT_EQ(dg.command(DG_CONTROL_READ | DG_KEY_CONTROL), static_cast<uint32_t>(DG_CONTROL_VERSION));
    for (const auto& [key, written, taken, readBack] : {std::tuple{DG_KEY_CARRIER, 8505, 1, 8505},
                                                        {DG_KEY_CARRIER, 50000, 1, 35000},
                                                        {DG_KEY_WPM, 35, 1, 35},
                                                        {DG_KEY_WPM, 200, 1, 50},
                                                        {DG_KEY_FARNSWORTH, 12, 1, 12},
                                                        {DG_KEY_FARNSWORTH, 90, 1, 50},
                                                        {DG_KEY_AFC, 0, 1, 0},
                                                        {DG_KEY_AFC, 7, 0, 0},
                                                        {DG_KEY_SQUELCH, 150, 1, 100},
                                                        {DG_KEY_RX_WPM, 30, 0, 20},
                                                        {DG_KEY_QUALITY, 50, 0, 0},
                                                        {DG_KEY_TRACKED, 1, 0, 7000}}) {
        EXPECT_EQ(dg.control(nullptr, static_cast<uint32_t>(key), static_cast<uint32_t>(written)), taken)
            << "key " << key;
        EXPECT_EQ(dg.Read(static_cast<uint32_t>(key)), readBack) << "key " << key;
    }
    EXPECT_EQ(dg.Read(DG_KEY_REVERSE), DG_CONTROL_NONE);
    EXPECT_EQ(dg.control(nullptr, DG_KEY_BAUD, 4545), 0);
}

constexpr uint64_t kCwMode = 16;
constexpr int kTransmitAndReceive = 3;
constexpr char kText[] = "CQ DE DL2XYZ 599 <KN>";

TEST(CwModule, TextSentOverTheLoopbackCardComesBack)
{
    rz::test::harness::ModuleDir dir;
    rz::test::harness::HostWindow host;
    std::filesystem::copy_file(DGCW_PATH, dir.Path() + "/DGcw.so");
    const std::string settings = dir.Path() + "/RUZada.ini";
    // 40 WPM keeps the run short.
    std::ofstream(settings) << "[RUZada]\nUse48KHz=0\n[CW]\nWPM=40\n";
    setenv("RUZADA_INI", settings.c_str(), 1);
    setenv("RUZADA_AUDIODRIVER", "loopback", 1);
    const auto text = [&](UINT message) {
        std::string text;
        for (const rz::test::harness::Received& m : host.Messages(message))
            text += static_cast<char>(m.wParam);
        return text;
    };
    rz::test::harness::LoadedModule module(dir.ModulePath());
    const auto initDG = module.Get<decltype(&::InitDG)>("InitDG");
    const auto setRUZada = module.Get<decltype(&::SetRUZada)>("SetRUZada");
    const auto setFreq = module.Get<decltype(&::SetDGFreq)>("SetDGFreq");
    const auto setSoundMode = module.Get<decltype(&::SetDGSoundMode)>("SetDGSoundMode");
    const auto sendA = module.Get<decltype(&::SendDGCharA)>("SendDGCharA");
    ASSERT_TRUE(initDG && setRUZada && setFreq && setSoundMode && sendA);
    ASSERT_EQ(initDG(host.Handle()) & kCwMode, kCwMode);
    setRUZada(kCwMode);
    setFreq(8000.0);
    // The whole text is queued before the transmitter starts: the module keys
    // what it finds queued and idles (silence) once the queue is empty, so a
    // host thread held up between two characters would put a word gap between them.
    const std::string expected = kText;
    std::for_each(expected.begin(), expected.end(), sendA);
    setSoundMode(kTransmitAndReceive, -1);
    host.PumpUntil([&] { return text(host.msgChar).size() >= expected.size(); }, 60s);
    setSoundMode(0, -1);
    setFreq(0.0);
    EXPECT_EQ(text(host.msgSentChar), expected);
    EXPECT_EQ(text(host.msgChar), expected);
}

TEST(CwModule, DgtermWritesAndReadsCwFiles)
{
    const std::string written = ::testing::TempDir() + "/cw-tx.wav";
    ASSERT_TRUE(RunProgram({DGTERM_PATH, "--mode", "CW", "--tx-file", written, "--text", kText}).has_value());
    EXPECT_EQ(RunProgram({DGTERM_PATH, "--mode", "CW", "--rx-file", written}).value_or("dgterm failed"), kText);
}

}  // namespace
