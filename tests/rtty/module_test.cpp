// DGrtty.so inside the whole module, driven as a host drives it: text sent
// through the file sound backend is decoded by minimodem, minimodem's audio
// played into the module comes back as "DG_CHAR", and text sent over the
// loopback card returns exactly. Minimodem also copies our receiver in noise.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <RUZada.h>

#include "HostHarness.h"
#include "minimodem.h"
#include "rtty_channel.h"
#include "rtty_timing.h"
#include "WavFile.h"

namespace {

using namespace std::chrono_literals;
using namespace rz::rtty::testing;
using rz::test::support::ReadWav;

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
        ASSERT_TRUE(initDG && setRUZada && getRUZada && setFreq && setSoundMode && sendA && isSendIdle);
        ASSERT_EQ(initDG(host.Handle()) & kRttyMode, kRttyMode);
        setRUZada(kRttyMode);
        ASSERT_EQ(getRUZada(), kRttyMode);
    }

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

}  // namespace
