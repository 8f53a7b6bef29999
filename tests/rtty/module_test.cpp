// DGrtty.so inside the whole module, driven as a host drives it: text sent
// through the file sound backend is decoded by minimodem, and without idle the
// file ends with the over's tail; minimodem's audio played into the module comes
// back as "DG_CHAR"; text sent over the loopback card returns exactly, also
// when the host moves the carrier of both ends with the run-time controls.
// Minimodem also copies our receiver in noise.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <DGSnapin.h>
#include <RUZada.h>
#include <ruzada/wave.h>

#include "HostHarness.h"
#include "minimodem.h"
#include "rtty_channel.h"
#include "rtty_timing.h"
#include "rtty_transmitter.h"
#include "wav_file.h"

namespace {

using namespace std::chrono_literals;
using namespace rz::rtty::testing;

constexpr uint64_t kRttyMode = 32;
constexpr int kTransmit = 1;
constexpr int kReceive = 2;

class RttyModule : public ::testing::Test {
protected:
    void TearDown() override
    {
        for (const char* name : {"RUZADA_AUDIO_IN", "RUZADA_AUDIO_OUT", "RUZADA_AUDIO_PACE"})
            unsetenv(name);
    }

    // The module and the snap-in in a fresh folder, loaded over the sound driver
    // `driver` (with the file variables set before), RTTY selected.
    void Load(const char* driver)
    {
        std::filesystem::copy_file(DGRTTY_PATH, dir.Path() + "/DGrtty.so");
        const std::string settings = dir.Path() + "/RUZada.ini";
        std::ofstream(settings) << "[RUZada]\nUse48KHz=0\n";
        setenv("RUZADA_INI", settings.c_str(), 1);
        setenv("RUZADA_AUDIODRIVER", driver, 1);
        module = std::make_unique<rz::test::harness::LoadedModule>(dir.ModulePath());
        ASSERT_TRUE(module->Loaded());
        const auto initDG = module->Get<decltype(&::InitDG)>("InitDG");
        const auto setRUZada = module->Get<decltype(&::SetRUZada)>("SetRUZada");
        const auto getRUZada = module->Get<decltype(&::GetRUZada)>("GetRUZada");
        setFreq = module->Get<decltype(setFreq)>("SetDGFreq");
        setSoundMode = module->Get<decltype(setSoundMode)>("SetDGSoundMode");
        sendA = module->Get<decltype(sendA)>("SendDGCharA");
        isSendIdle = module->Get<decltype(isSendIdle)>("IsDGSendIdle");
        invokeFunc = module->Get<decltype(invokeFunc)>("InvokeRUZadaFunc");
        invokeCommand = module->Get<decltype(invokeCommand)>("InvokeDGCommand");
        ASSERT_TRUE(initDG && setRUZada && getRUZada && setFreq && setSoundMode && sendA && isSendIdle && invokeFunc &&
                    invokeCommand);
        ASSERT_EQ(initDG(host.Handle()) & kRttyMode, kRttyMode);
        setRUZada(kRttyMode);
        ASSERT_EQ(getRUZada(), kRttyMode);
    }

    bool Write(uint32_t key, int32_t value)
    {
        return invokeFunc(kRttyMode, DG_CONTROL_FUNC, key, static_cast<uint32_t>(value)) == 1;
    }
    int32_t Read(uint32_t key) { return static_cast<int32_t>(invokeCommand(DG_CONTROL_READ | key)); }

    void Send(const std::string& text)
    {
        for (char c : text)
            sendA(c);
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
    std::unique_ptr<rz::test::harness::LoadedModule> module;
    decltype(&::SetDGFreq) setFreq = nullptr;
    decltype(&::SetDGSoundMode) setSoundMode = nullptr;
    decltype(&::SendDGCharA) sendA = nullptr;
    decltype(&::IsDGSendIdle) isSendIdle = nullptr;
    decltype(&::InvokeRUZadaFunc) invokeFunc = nullptr;
    decltype(&::InvokeDGCommand) invokeCommand = nullptr;
};

// CI installs minimodem, so there a missing one fails instead of skipping.
class Minimodem : public RttyModule {
protected:
    void SetUp() override
    {
        const std::optional<std::string> found = FindMinimodem();
        if (!found && getenv("CI") != nullptr)
            FAIL() << "minimodem is not installed";
        if (!found)
            GTEST_SKIP() << "minimodem is not installed (the Debian package minimodem provides it)";
        program = *found;
    }

    std::string program;
};

TEST_F(Minimodem, DecodesWhatTheModuleSendsThroughTheFileBackend)
{
    const std::string played = dir.Path() + "/played.wav";
    setenv("RUZADA_AUDIO_OUT", played.c_str(), 1);
    setenv("RUZADA_AUDIO_PACE", "0", 1);
    Load("file");
    Send(kEveryCharacter);
    setFreq(8000.0);
    setSoundMode(kTransmit, -1);
    // Idle follows the text, so a file that holds the over and a second more holds all the text.
    const size_t overBytes = 2 * (TransmitText(kEveryCharacter, kDefaultTones, 0).size() + rz::rtty::kSampleRate);
    ASSERT_TRUE(host.PumpUntil(
        [&] {
            std::error_code missing;
            const uintmax_t bytes = std::filesystem::file_size(played, missing);
            return !missing && bytes > overBytes && isSendIdle() == 1;
        },
        20s));
    setSoundMode(0, -1);
    setFreq(0.0);
    EXPECT_EQ(Text(host.msgSentChar), kEveryCharacter);
    EXPECT_EQ(MinimodemReceive(program, played), kEveryCharacter);
}

TEST_F(Minimodem, WithoutIdleAFileHoldsTheOverAndItsTailAndNothingMore)
{
    const std::string played = dir.Path() + "/played.wav";
    setenv("RUZADA_AUDIO_OUT", played.c_str(), 1);
    setenv("RUZADA_AUDIO_PACE", "0", 1);
    Load("file");
    ASSERT_TRUE(Write(DG_KEY_IDLE, 0));
    const std::string text = "CQ DE TEST";
    Send(text);
    setFreq(8000.0);
    setSoundMode(kTransmit, -1);
    ASSERT_TRUE(host.PumpUntil([&] { return Text(host.msgSentChar).size() == text.size() && isSendIdle() == 1; }, 20s));
    setSoundMode(0, -1);
    // The card plays what the module handed it before it closes: the device
    // holds nothing and its position has stood still for a while.
    DWORD position = 0;
    auto still = std::chrono::steady_clock::now();
    ASSERT_TRUE(host.PumpUntil(
        [&] {
            DWORD reached = 0;
            DWORD pending = 0;
            if (!GetOpenWaveOutPosition(&reached) || !GetOpenWaveOutPending(&pending))
                return true;
            const auto now = std::chrono::steady_clock::now();
            if (reached != position || pending != 0) {
                position = reached;
                still = now;
            }
            return now - still >= 250ms;
        },
        20s));
    setFreq(0.0);
    // Lead-in, two letters shifts, ten characters and the tail, however long the
    // card ran (the module holds one sample back, and starts with a silent one).
    const std::optional<std::vector<int16_t>> audio = ReadWav(played);
    ASSERT_TRUE(audio.has_value());
    EXPECT_EQ(audio->size(),
              static_cast<size_t>(rz::rtty::RttyTransmitter::kLeadInSamples + 12 * rz::rtty::kCharSamples +
                                  rz::rtty::RttyTransmitter::kTailSamples));
    EXPECT_EQ(MinimodemReceive(program, played), text);
}

TEST_F(Minimodem, IsDecodedByTheModuleThroughTheFileBackend)
{
    const std::string captured = dir.Path() + "/captured.wav";
    ASSERT_TRUE(MinimodemTransmit(program, kEveryCharacter, captured));
    setenv("RUZADA_AUDIO_IN", captured.c_str(), 1);
    setenv("RUZADA_AUDIO_PACE", "0", 1);
    Load("file");
    // Receive goes on before the card opens: capture read with receive off is dropped.
    setSoundMode(kReceive, -1);
    setFreq(8000.0);
    const std::string expected = kEveryCharacter;
    host.PumpUntil([&] { return Text(host.msgChar).size() >= expected.size(); }, 20s);
    EXPECT_EQ(Text(host.msgChar), expected);
}

TEST_F(Minimodem, IsDecodedByOurReceiverThroughNoise)
{
    const std::string text = std::string(kEveryCharacter) + kEveryCharacter + kEveryCharacter;
    const std::string path = dir.Path() + "/noisy.wav";
    ASSERT_TRUE(MinimodemTransmit(program, text, path));
    const std::optional<std::vector<int16_t>> audio = ReadWav(path);
    ASSERT_TRUE(audio.has_value());
    EXPECT_LE(CharacterErrorRate(text, ReceiveText(AddNoise(*audio, -5.0, 6, 8000, 8000))), 0.01);
}

TEST_F(RttyModule, TextSentOverTheLoopbackCardComesBack)
{
    Load("loopback");
    setFreq(8000.0);
    setSoundMode(kTransmit | kReceive, -1);
    // All typed at once: seconds of audio wait for the card while capture goes on.
    const std::string expected = kEveryCharacter;
    for (const char c : expected)
        sendA(c);
    host.PumpUntil([&] { return Text(host.msgChar).size() >= expected.size(); }, 40s);
    EXPECT_EQ(Text(host.msgSentChar), expected);
    EXPECT_EQ(Text(host.msgChar), expected);
}

TEST_F(RttyModule, TheHostMovesTheCarrierOfBothEndsAndTextGoesOnAtTheNewOne)
{
    Load("loopback");
    setFreq(8000.0);
    setSoundMode(kTransmit | kReceive, -1);
    ASSERT_EQ(Read(DG_KEY_CONTROL), DG_CONTROL_VERSION);
    const auto received = [&](const std::string& text) {
        return [&, text] { return Text(host.msgChar).ends_with(text); };
    };
    Send("RY 1 ");
    ASSERT_TRUE(host.PumpUntil(received("RY 1 "), 20s)) << Text(host.msgChar);

    // Idle goes on at 2000 Hz, and the receiver listens there at once.
    ASSERT_TRUE(Write(DG_KEY_CARRIER, 20000));
    EXPECT_EQ(Read(DG_KEY_CARRIER), 20000);
    Send("DE 2 K");
    ASSERT_TRUE(host.PumpUntil(received("DE 2 K"), 20s)) << Text(host.msgChar);
    EXPECT_NEAR(Read(DG_KEY_TRACKED), 20000, 20);
    EXPECT_GE(Read(DG_KEY_QUALITY), 50);
    EXPECT_EQ(Text(host.msgChar), "RY 1 DE 2 K");
}

}  // namespace
