// DGpsk.so inside the whole module, driven as a host drives it over the
// loopback card: text sent with SendDGCharA comes back as "DG_CHAR" in every
// submode, and the control convention moves the carrier of both ends between
// two texts.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include <DGSnapin.h>
#include <RUZada.h>

#include "HostHarness.h"

namespace {

using namespace std::chrono_literals;

constexpr uint64_t kPskMode = 1;
constexpr int kTransmit = 1;
constexpr int kReceive = 2;

class PskModule : public ::testing::Test {
protected:
    void TearDown() override { unsetenv("RUZADA_AUDIODRIVER"); }

    // The module and the snap-in in a fresh folder on the loopback card, PSK
    // selected with `pskSettings`, the card open both ways.
    void Load(const std::string& pskSettings)
    {
        std::filesystem::copy_file(DGPSK_PATH, dir.Path() + "/DGpsk.so");
        const std::string settings = dir.Path() + "/RUZada.ini";
        std::ofstream(settings) << "[RUZada]\nUse48KHz=0\n" << pskSettings;
        setenv("RUZADA_INI", settings.c_str(), 1);
        setenv("RUZADA_AUDIODRIVER", "loopback", 1);
        module = std::make_unique<rz::test::harness::LoadedModule>(dir.ModulePath());
        ASSERT_TRUE(module->Loaded());
        const auto initDG = module->Get<decltype(&::InitDG)>("InitDG");
        const auto setRUZada = module->Get<decltype(&::SetRUZada)>("SetRUZada");
        const auto setFreq = module->Get<decltype(&::SetDGFreq)>("SetDGFreq");
        const auto setSoundMode = module->Get<decltype(&::SetDGSoundMode)>("SetDGSoundMode");
        sendA = module->Get<decltype(sendA)>("SendDGCharA");
        invokeFunc = module->Get<decltype(invokeFunc)>("InvokeRUZadaFunc");
        invokeCommand = module->Get<decltype(invokeCommand)>("InvokeDGCommand");
        ASSERT_TRUE(initDG && setRUZada && setFreq && setSoundMode && sendA && invokeFunc && invokeCommand);
        ASSERT_EQ(initDG(host.Handle()) & kPskMode, kPskMode);
        setRUZada(kPskMode);
        setFreq(8000.0);
        setSoundMode(kTransmit | kReceive, -1);
    }

    // Sends `text` and waits until everything sent so far has come back.
    void SendAndAwait(const std::string& text)
    {
        m_sent += text;
        for (char c : text)
            sendA(c);
        host.PumpUntil([&] { return Text(host.msgChar).size() >= m_sent.size(); }, 40s);
    }

    std::string Text(UINT message) const
    {
        std::string text;
        for (const rz::test::harness::Received& m : host.Messages(message))
            text += static_cast<char>(m.wParam);
        return text;
    }

    int32_t Read(int key) const
    {
        return static_cast<int32_t>(invokeCommand(DG_CONTROL_READ | static_cast<uint32_t>(key)));
    }

    rz::test::harness::ModuleDir dir;
    rz::test::harness::HostWindow host;
    std::unique_ptr<rz::test::harness::LoadedModule> module;
    decltype(&::SendDGCharA) sendA = nullptr;
    decltype(&::InvokeRUZadaFunc) invokeFunc = nullptr;
    decltype(&::InvokeDGCommand) invokeCommand = nullptr;

private:
    std::string m_sent;
};

class PskModuleSubmode : public PskModule, public ::testing::WithParamInterface<const char*> {};

TEST_P(PskModuleSubmode, TextSentOverTheLoopbackCardComesBack)
{
    Load(std::string("[PSK]\nSubmode=") + GetParam() + "\n");
    const std::string text = "CQ de DL2XYZ: 73, k?\r\n";
    SendAndAwait(text);
    EXPECT_EQ(Text(host.msgSentChar), text);
    EXPECT_EQ(Text(host.msgChar), text);
}

INSTANTIATE_TEST_SUITE_P(Submodes, PskModuleSubmode,
                         ::testing::Values("BPSK31", "BPSK63", "BPSK125", "QPSK31", "QPSK63"));

TEST_F(PskModule, ControlMovesTheCarrierOfBothEnds)
{
    Load("[PSK]\nSubmode=BPSK63\n");
    ASSERT_EQ(Read(DG_KEY_CONTROL), DG_CONTROL_VERSION);
    SendAndAwait("ALPHA 1 ");
    EXPECT_NEAR(Read(DG_KEY_TRACKED), 10000, 20);
    EXPECT_EQ(invokeFunc(kPskMode, DG_CONTROL_FUNC, DG_KEY_CARRIER, 15000), 1);
    EXPECT_EQ(Read(DG_KEY_CARRIER), 15000);
    SendAndAwait("BRAVO 2");
    EXPECT_EQ(Text(host.msgChar), "ALPHA 1 BRAVO 2");
    EXPECT_NEAR(Read(DG_KEY_TRACKED), 15000, 20);
}

}  // namespace
