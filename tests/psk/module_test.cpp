// DGpsk.so inside the whole module: driven as a host drives it over the
// loopback card, text sent with SendDGCharA comes back as "DG_CHAR" in every
// submode, and the control convention moves the carrier of both ends while
// text flows; through dgterm on WAV files, as scripts use it, a transmission it
// writes copies, and it prints the text of recordings of fldigi's.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>

#include <DGSnapin.h>
#include <RUZada.h>

#include "DgtermRun.h"
#include "HostHarness.h"
#include "PskChannel.h"
#include "RttyWav.h"

namespace {

using namespace std::chrono_literals;

constexpr uint64_t kPskMode = 1;
constexpr int kTransmitAndReceive = 3;

class PskModule : public ::testing::TestWithParam<const char*> {
protected:
    void TearDown() override { unsetenv("RUZADA_AUDIODRIVER"); }

    std::string Text(UINT message) const
    {
        std::string text;
        for (const rz::test::harness::Received& m : host.Messages(message))
            text += static_cast<char>(m.wParam);
        return text;
    }

    rz::test::harness::ModuleDir dir;
    rz::test::harness::HostWindow host;
};

// The carrier of both ends moves while the first over is going out: what is
// on the air then may be lost (the audio already handed to the card still
// plays on the old carrier), but the text keeps coming on the new one.
TEST_P(PskModule, TextComesBackAndFollowsTheCarrier)
{
    std::filesystem::copy_file(DGPSK_PATH, dir.Path("DGpsk.so"));
    const std::string ini = dir.Write("RUZada.ini", "[RUZada]\nUse48KHz=0\n[PSK]\nSubmode=" + std::string(GetParam()));
    setenv("RUZADA_INI", ini.c_str(), 1);
    setenv("RUZADA_AUDIODRIVER", "loopback", 1);
    const rz::test::harness::LoadedModule module(dir.ModulePath());
    const auto initDG = module.Get<decltype(&::InitDG)>("InitDG");
    const auto setRUZada = module.Get<decltype(&::SetRUZada)>("SetRUZada");
    const auto setFreq = module.Get<decltype(&::SetDGFreq)>("SetDGFreq");
    const auto setSoundMode = module.Get<decltype(&::SetDGSoundMode)>("SetDGSoundMode");
    const auto sendA = module.Get<decltype(&::SendDGCharA)>("SendDGCharA");
    const auto invokeFunc = module.Get<decltype(&::InvokeRUZadaFunc)>("InvokeRUZadaFunc");
    const auto invokeCommand = module.Get<decltype(&::InvokeDGCommand)>("InvokeDGCommand");
    ASSERT_TRUE(initDG && setRUZada && setFreq && setSoundMode && sendA && invokeFunc && invokeCommand);
    ASSERT_EQ(initDG(host.Handle()) & kPskMode, kPskMode);
    setRUZada(kPskMode);
    setFreq(8000.0);
    setSoundMode(kTransmitAndReceive, -1);
    const auto read = [&](int key) { return static_cast<int32_t>(invokeCommand(DG_CONTROL_READ | unsigned(key))); };
    const auto send = [&](const std::string& text) { std::ranges::for_each(text, sendA); };
    const auto received = [&] { return Text(host.msgChar); };

    const std::string first = "CQ de DL2XYZ: 73, k?\r\n";
    const std::string flowing = "QRL? 0123 ";
    send(first + flowing);
    ASSERT_TRUE(host.PumpUntil([&] { return received().size() > first.size(); }, 60s)) << received();
    EXPECT_EQ(received().substr(0, first.size()), first);
    EXPECT_EQ(invokeFunc(kPskMode, DG_CONTROL_FUNC, DG_KEY_CARRIER, 15000), 1);
    const std::string third = "de DK1ABC 599 sk\r\n";
    send(third);
    const std::string tail = third.substr(third.size() / 2);
    host.PumpUntil([&] { return received().ends_with(tail); }, 60s);
    EXPECT_EQ(Text(host.msgSentChar), first + flowing + third);
    EXPECT_TRUE(received().ends_with(tail)) << received();
    EXPECT_NEAR(read(DG_KEY_TRACKED), 15000, 20);
}

INSTANTIATE_TEST_SUITE_P(Submodes, PskModule, ::testing::Values("BPSK31", "BPSK63", "BPSK125", "QPSK31", "QPSK63"));

TEST(PskDgterm, WritesATransmissionThatCopies)
{
    const std::string text = "CQ CQ de DL2XYZ, pse K? 73!";
    const std::string path = rz::test::dgterm::TempPath("psk-tx.wav");
    const rz::test::dgterm::Run run = rz::test::dgterm::RunDgterm({"--mode", "PSK", "--tx-file", path, "--text", text});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::optional<std::vector<int16_t>> audio = rz::rtty::testing::ReadWav(path);
    std::remove(path.c_str());
    ASSERT_TRUE(audio.has_value());
    EXPECT_EQ(rz::psk::testing::ReceiveText(*audio, DG_PSK_BPSK31), text);
}

// fldigi's transmissions (recorded by bench/psk_sensitivity/fldigi_interop.sh),
// so DGpsk is checked against an independent modem without running one.
class PskDgtermFldigi : public ::testing::TestWithParam<const char*> {};

TEST_P(PskDgtermFldigi, PrintsTheTextOfItsRecording)
{
    const std::string data = PSK_TEST_DATA;
    const std::string mode = GetParam();
    const rz::test::dgterm::Run run = rz::test::dgterm::RunDgterm(
        {"--mode", "PSK", "--option", "Submode=" + mode, "--rx-file", data + "/fldigi_" + mode + ".wav"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, rz::test::dgterm::ReadText(data + "/" + mode + ".txt"));
}

INSTANTIATE_TEST_SUITE_P(Modes, PskDgtermFldigi, ::testing::Values("BPSK31", "BPSK63", "QPSK31"));

}  // namespace
