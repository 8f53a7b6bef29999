// The host tests' module: loaded from a fresh folder of test snap-ins, which the
// test holds loaded so that what a snap-in records outlives the module's loads.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <RUZada.h>
#include <ruzada/wave.h>

#include "../snapins/TestSnapinProbe.h"
#include "HostHarness.h"

namespace rz::test::host {

using namespace std::chrono_literals;

inline constexpr int kTransmit = 1;
inline constexpr int kReceive = 2;

// The exports the tests call, each typed as RUZada.h declares it.
// clang-format off
#define HOSTTEST_EXPORTS(X)                                                                                     \
    X(InitDG) X(DGSetXmit) X(GetDGVersion) X(GetDGProcessorSpeedKHz) X(EnumRUZadas)          \
    X(SetRUZada) X(GetRUZada) X(GetRUZadaNameW) X(GetRUZadaNameA) X(GetRUZadaFileNameW) X(GetRUZadaFileNameA)   \
    X(InvokeRUZadaFunc) X(InvokeRUZadaSetup) X(InvokeDGCommand) X(SetDGFreq) X(GetDGFreq) X(SetDGSoundMode)     \
    X(SendDGCharW) X(SendDGCharA) X(IsDGSendIdle)
// clang-format on

struct ModuleExports {
#define HOSTTEST_DECLARE(name) decltype(&::name) name = nullptr;
    HOSTTEST_EXPORTS(HOSTTEST_DECLARE)
#undef HOSTTEST_DECLARE
};

class ModuleTest : public ::testing::Test {
protected:
    rz::test::harness::ModuleDir dir;
    rz::test::harness::DebugLines debug;
    rz::test::harness::HostWindow host;
    std::vector<std::unique_ptr<rz::test::harness::LoadedModule>> held;
    std::unique_ptr<rz::test::harness::LoadedModule> module;
    ModuleExports api;

    std::string PathOf(const std::string& fileName) const { return dir.Path() + "/" + fileName; }

    // `settings`: lines of the "RUZada" section.
    void Load(const std::vector<std::string>& snapins = {}, const std::string& settings = "",
              const char* driver = "null")
    {
        for (const std::string& name : snapins)
            dir.AddTestSnapin(name);
        std::ofstream(PathOf("settings.ini")) << "[RUZada]\n" << settings;
        setenv("RUZADA_INI", PathOf("settings.ini").c_str(), 1);
        setenv("RUZADA_AUDIODRIVER", driver, 1);
        LoadModule();
    }

    // Loads the folder's module (again) and resolves its exports.
    void LoadModule()
    {
        module = std::make_unique<rz::test::harness::LoadedModule>(dir.ModulePath());
        ASSERT_TRUE(module->Loaded());
#define HOSTTEST_RESOLVE(name)                        \
    api.name = module->Get<decltype(&::name)>(#name); \
    ASSERT_NE(api.name, nullptr) << #name;
        HOSTTEST_EXPORTS(HOSTTEST_RESOLVE)
#undef HOSTTEST_RESOLVE
    }

    // The record of a snap-in the test holds loaded.
    template <class Record>
    Record* Hold(const std::string& fileName, const char* probe)
    {
        held.push_back(std::make_unique<rz::test::harness::LoadedModule>(PathOf(fileName)));
        const auto answer = held.back()->Get<Record* (*)()>(probe);
        EXPECT_NE(answer, nullptr) << fileName;
        return answer ? answer() : nullptr;
    }

    std::vector<uint32_t> Params(UINT message) const
    {
        std::vector<uint32_t> params;
        for (const rz::test::harness::Received& m : host.Messages(message))
            params.push_back(m.wParam);
        return params;
    }
};

class ModesTest : public ModuleTest {
protected:
    void SetUp() override { Load(); }

    const SnapinCallLog* Calls(const std::string& fileName)
    {
        return Hold<const SnapinCallLog>(fileName, "TestSnapinCalls");
    }

    // The module's discovery lines so far, in order.
    std::vector<std::string> DiscoveryLines() const
    {
        std::vector<std::string> found;
        for (const std::string& line : debug.Lines())
            if (line.rfind("RUZada: ", 0) == 0)
                found.push_back(line);
        return found;
    }

    // What a call leaves in a buffer of `size` units filled with '~', given `len`.
    template <class Char>
    static std::basic_string<Char> Left(void (*get)(uint64_t, Char*, UINT), uint64_t mode, UINT len, size_t size = 12)
    {
        std::basic_string<Char> buffer(size, Char{'~'});
        get(mode, buffer.data(), len);
        return buffer;
    }
    // Answers read up to their terminator from a roomy buffer.
    template <class Char>
    static std::basic_string<Char> Answer(void (*get)(uint64_t, Char*, UINT), uint64_t mode)
    {
        const std::basic_string<Char> buffer = Left(get, mode, 512, 512);
        return buffer.substr(0, buffer.find(Char{}));
    }
    std::u16string NameW(uint64_t mode) const { return Answer(api.GetRUZadaNameW, mode); }
    std::string NameA(uint64_t mode) const { return Answer(api.GetRUZadaNameA, mode); }
    std::u16string FileNameW(uint64_t mode) const { return Answer(api.GetRUZadaFileNameW, mode); }
    std::string FileNameA(uint64_t mode) const { return Answer(api.GetRUZadaFileNameA, mode); }
};

inline std::string DetectedLine(const std::string& name, const std::string& path)
{
    return "RUZada: Detected Soundcard Mode Snap-in " + name + " (" + path + ")\r\n";
}

class RunningTest : public ModuleTest {
protected:
    // Loads and binds the module; returns the first snap-in's record.
    CodecLog* LoadCodecs(const std::vector<std::string>& snapins, const std::string& settings = "",
                         const char* driver = "loopback")
    {
        Load(snapins, settings, driver);
        if (HasFatalFailure())
            return nullptr;
        api.InitDG(host.Handle());
        return Hold<CodecLog>(snapins.front(), "CodecCalls");
    }

    // Selects the mode and starts the card at 8000 with the given sound mode.
    void Start(uint64_t mask, int soundMode)
    {
        api.SetRUZada(mask);
        ASSERT_EQ(api.GetRUZada(), mask);
        api.SetDGFreq(8000.0);
        api.SetDGSoundMode(soundMode, -1);
    }

    // Time enough, on the audio's own clock, for the workers to act on `samples`.
    bool PumpWhileCapturing(DWORD samples)
    {
        DWORD start = 0;
        GetOpenWaveInPosition(&start);
        return host.PumpUntil(
            [&] {
                DWORD now = 0;
                return GetOpenWaveInPosition(&now) && now - start >= samples;
            },
            std::chrono::seconds(10));
    }

    std::vector<uint32_t> Chars() const { return Params(host.msgChar); }
    std::vector<uint32_t> SentChars() const { return Params(host.msgSentChar); }
};

inline std::vector<int> Entries(const CodecList& list)
{
    const int count = list.count.load(std::memory_order_acquire);
    return {list.entries, list.entries + count};
}

inline std::vector<uint32_t> Units(const std::u16string& text) { return {text.begin(), text.end()}; }

}  // namespace rz::test::host
