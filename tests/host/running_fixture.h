// What the running-module tests share: a module folder over the loopback sound
// card, the module's running exports, and codec snap-ins held loaded by the test
// so that their call logs can be read and outlive the module.
#pragma once

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <RUZada.h>

#include "../snapins/codec/CodecProbe.h"
#include "HostHarness.h"

namespace running {

using namespace std::chrono_literals;

inline constexpr int kTransmit = 1;
inline constexpr int kReceive = 2;

class HeldCodec {
public:
    explicit HeldCodec(const std::string& path) : m_handle(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {}
    ~HeldCodec()
    {
        if (m_handle)
            dlclose(m_handle);
    }
    HeldCodec(const HeldCodec&) = delete;
    HeldCodec& operator=(const HeldCodec&) = delete;

    CodecLog* Log() const
    {
        const auto calls = m_handle ? reinterpret_cast<PFN_CodecCalls>(dlsym(m_handle, "CodecCalls")) : nullptr;
        return calls ? calls() : nullptr;
    }

private:
    void* m_handle;
};

inline std::vector<int> Entries(const CodecList& list)
{
    const int count = list.count.load(std::memory_order_acquire);
    return {list.entries, list.entries + count};
}

// The module in a fresh folder, loaded after the sound driver and the settings
// file are chosen.
class RunningTest : public ::testing::Test {
protected:
    harness::ModuleDir dir;
    harness::DebugLog debug;
    harness::HostWindow host;
    std::unique_ptr<harness::LoadedModule> module;

    decltype(&::InitDG) initDG = nullptr;
    decltype(&::SetRUZada) setRUZada = nullptr;
    decltype(&::GetRUZada) getRUZada = nullptr;
    decltype(&::SetDGFreq) setFreq = nullptr;
    decltype(&::GetDGFreq) getFreq = nullptr;
    decltype(&::SetDGSoundMode) setSoundMode = nullptr;
    decltype(&::SendDGCharW) sendW = nullptr;
    decltype(&::SendDGCharA) sendA = nullptr;
    decltype(&::IsDGSendIdle) isSendIdle = nullptr;
    decltype(&::InvokeDGCommand) invokeCommand = nullptr;

    // Copies the snap-ins, then loads the module over the loopback card.
    void Load(const std::vector<std::string>& snapins, bool use48KHz = false)
    {
        for (const auto& name : snapins)
            dir.AddTestSnapin(name);
        const std::string ini = dir.Path() + "/settings.ini";
        std::ofstream(ini) << "[RUZada]\nUse48KHz=" << (use48KHz ? 1 : 0) << "\n";
        setenv("RUZADA_INI", ini.c_str(), 1);
        setenv("RUZADA_AUDIODRIVER", "loopback", 1);
        module = std::make_unique<harness::LoadedModule>(dir.ModulePath());
        ASSERT_TRUE(module->Loaded());
        initDG = module->Get<decltype(initDG)>("InitDG");
        setRUZada = module->Get<decltype(setRUZada)>("SetRUZada");
        getRUZada = module->Get<decltype(getRUZada)>("GetRUZada");
        setFreq = module->Get<decltype(setFreq)>("SetDGFreq");
        getFreq = module->Get<decltype(getFreq)>("GetDGFreq");
        setSoundMode = module->Get<decltype(setSoundMode)>("SetDGSoundMode");
        sendW = module->Get<decltype(sendW)>("SendDGCharW");
        sendA = module->Get<decltype(sendA)>("SendDGCharA");
        isSendIdle = module->Get<decltype(isSendIdle)>("IsDGSendIdle");
        invokeCommand = module->Get<decltype(invokeCommand)>("InvokeDGCommand");
        ASSERT_TRUE(initDG && setRUZada && getRUZada && setFreq && getFreq && setSoundMode && sendW && sendA &&
                    isSendIdle && invokeCommand);
        module->Get<void (*)()>("DGRefreshSettings")();
        initDG(host.Handle());
    }

    std::unique_ptr<HeldCodec> Hold(const std::string& name)
    {
        auto held = std::make_unique<HeldCodec>(dir.Path() + "/" + name);
        EXPECT_NE(held->Log(), nullptr) << name;
        return held;
    }

    // Selects the mode and starts the card at 8000 with the given sound mode.
    void Start(uint64_t mask, int soundMode)
    {
        setRUZada(mask);
        ASSERT_EQ(getRUZada(), mask);
        setFreq(8000.0);
        setSoundMode(soundMode, -1);
    }

    std::vector<uint32_t> Params(UINT message) const
    {
        std::vector<uint32_t> params;
        for (const auto& m : host.Messages(message))
            params.push_back(m.wParam);
        return params;
    }

    std::vector<uint32_t> Chars() const { return Params(host.msgChar); }
    std::vector<uint32_t> SentChars() const { return Params(host.msgSentChar); }
};

inline std::vector<uint32_t> Units(const std::u16string& text) { return {text.begin(), text.end()}; }

}  // namespace running
