// DGcw.so inside the whole module and under dgterm, as an operator runs it:
// text sent over the loopback card comes back as "DG_CHAR", and dgterm writes
// and reads CW files.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include <RUZada.h>

#include "CwChannel.h"
#include "HostHarness.h"

namespace {

using namespace std::chrono_literals;
using namespace rz::cw::testing;

constexpr uint64_t kCwMode = 16;
constexpr int kTransmit = 1;
constexpr int kReceive = 2;
constexpr char kText[] = "CQ DE DL2XYZ 599 <KN>";

class CwModule : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::copy_file(DGCW_PATH, dir.Path() + "/DGcw.so");
        settings = dir.Path() + "/RUZada.ini";
        // 40 WPM keeps the run short.
        std::ofstream(settings) << "[RUZada]\nUse48KHz=0\n[CW]\nWPM=40\n";
        setenv("RUZADA_INI", settings.c_str(), 1);
    }

    std::string Text(UINT message) const
    {
        std::string text;
        for (const rz::test::harness::Received& m : host.Messages(message))
            text += static_cast<char>(m.wParam);
        return text;
    }

    rz::test::harness::ModuleDir dir;
    rz::test::harness::HostWindow host;
    std::string settings;
};

TEST_F(CwModule, TextSentOverTheLoopbackCardComesBack)
{
    setenv("RUZADA_AUDIODRIVER", "loopback", 1);
    rz::test::harness::LoadedModule module(dir.ModulePath());
    ASSERT_TRUE(module.Loaded());
    const auto initDG = module.Get<decltype(&::InitDG)>("InitDG");
    const auto setRUZada = module.Get<decltype(&::SetRUZada)>("SetRUZada");
    const auto setFreq = module.Get<decltype(&::SetDGFreq)>("SetDGFreq");
    const auto setSoundMode = module.Get<decltype(&::SetDGSoundMode)>("SetDGSoundMode");
    const auto sendA = module.Get<decltype(&::SendDGCharA)>("SendDGCharA");
    ASSERT_TRUE(initDG && setRUZada && setFreq && setSoundMode && sendA);
    ASSERT_EQ(initDG(host.Handle()) & kCwMode, kCwMode);
    setRUZada(kCwMode);
    setFreq(8000.0);
    setSoundMode(kTransmit | kReceive, -1);
    const std::string expected = kText;
    for (const char c : expected)
        sendA(c);
    host.PumpUntil([&] { return Text(host.msgChar).size() >= expected.size(); }, 60s);
    setSoundMode(0, -1);
    setFreq(0.0);
    EXPECT_EQ(Text(host.msgSentChar), expected);
    EXPECT_EQ(Text(host.msgChar), expected);
    unsetenv("RUZADA_AUDIODRIVER");
}

TEST_F(CwModule, DgtermWritesAndReadsCwFiles)
{
    const std::string written = dir.Path() + "/tx.wav";
    ASSERT_TRUE(RunProgram({DGTERM_PATH, "--mode", "CW", "--tx-file", written, "--text", kText}).has_value());
    const std::optional<std::string> read = RunProgram({DGTERM_PATH, "--mode", "CW", "--rx-file", written});
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(*read, kText);
}

}  // namespace
