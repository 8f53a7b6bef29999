// What the mode tests share: a module folder that each test fills with test
// snap-ins, the module loaded from it with its mode exports, and test snap-ins
// held loaded so that their call logs can be read.
#pragma once

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <RUZada.h>

#include "../snapins/TestSnapinProbe.h"
#include "HostHarness.h"

namespace modes {

// A test snap-in loaded by the test itself: the module's loads of the same file
// then share this copy, and its call log outlives them.
class HeldSnapin {
public:
    explicit HeldSnapin(const std::string& path) : m_handle(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {}
    ~HeldSnapin()
    {
        if (m_handle)
            dlclose(m_handle);
    }
    HeldSnapin(const HeldSnapin&) = delete;
    HeldSnapin& operator=(const HeldSnapin&) = delete;

    // Null when the snap-in did not load.
    const SnapinCallLog* Calls() const
    {
        const auto calls = m_handle ? reinterpret_cast<PFN_TestSnapinCalls>(dlsym(m_handle, "TestSnapinCalls")) : nullptr;
        return calls ? calls() : nullptr;
    }

private:
    void* m_handle;
};

inline std::string DetectedLine(const std::string& name, const std::string& path)
{
    return "RUZada: Detected Soundcard Mode Snap-in " + name + " (" + path + ")\r\n";
}

class ModesTest : public ::testing::Test {
protected:
    harness::ModuleDir dir;
    harness::DebugLog debug;
    harness::HostWindow host;
    harness::LoadedModule module{dir.ModulePath()};

    decltype(&::InitDG) initDG = module.Get<decltype(&::InitDG)>("InitDG");
    decltype(&::EnumRUZadas) enumRUZadas = module.Get<decltype(&::EnumRUZadas)>("EnumRUZadas");
    decltype(&::GetRUZadaNameW) nameW = module.Get<decltype(&::GetRUZadaNameW)>("GetRUZadaNameW");
    decltype(&::GetRUZadaNameA) nameA = module.Get<decltype(&::GetRUZadaNameA)>("GetRUZadaNameA");
    decltype(&::GetRUZadaFileNameW) fileNameW = module.Get<decltype(&::GetRUZadaFileNameW)>("GetRUZadaFileNameW");
    decltype(&::GetRUZadaFileNameA) fileNameA = module.Get<decltype(&::GetRUZadaFileNameA)>("GetRUZadaFileNameA");
    decltype(&::InvokeRUZadaFunc) invokeFunc = module.Get<decltype(&::InvokeRUZadaFunc)>("InvokeRUZadaFunc");
    decltype(&::InvokeRUZadaSetup) invokeSetup = module.Get<decltype(&::InvokeRUZadaSetup)>("InvokeRUZadaSetup");

    void SetUp() override
    {
        ASSERT_TRUE(module.Loaded());
        for (const void* entry : {(const void*)initDG, (const void*)enumRUZadas, (const void*)nameW,
                                  (const void*)nameA, (const void*)fileNameW, (const void*)fileNameA,
                                  (const void*)invokeFunc, (const void*)invokeSetup})
            ASSERT_NE(entry, nullptr);
    }

    std::string PathOf(const std::string& fileName) const { return dir.Path() + "/" + fileName; }

    // The module's discovery lines so far, in order.
    std::vector<std::string> DiscoveryLines() const
    {
        std::vector<std::string> found;
        for (const std::string& line : debug.Lines())
            if (line.rfind("RUZada: ", 0) == 0)
                found.push_back(line);
        return found;
    }

    // From now on every test snap-in notes each of its loads.
    void TraceLoads() { setenv(kLoadTraceVariable, PathOf("loads.txt").c_str(), 1); }
    std::vector<std::string> LoadTrace() const
    {
        std::ifstream file(PathOf("loads.txt"));
        std::vector<std::string> loads;
        for (std::string line; std::getline(file, line);)
            loads.push_back(line);
        return loads;
    }

    // Answers read up to their terminator from a roomy buffer.
    template <class Char>
    static std::basic_string<Char> Answer(void (*get)(uint64_t, Char*, UINT), uint64_t mode)
    {
        Char buffer[512] = {};
        get(mode, buffer, std::size(buffer));
        return std::basic_string<Char>(buffer, std::find(std::begin(buffer), std::end(buffer), Char{}));
    }
    std::u16string NameW(uint64_t mode) const { return Answer(nameW, mode); }
    std::string NameA(uint64_t mode) const { return Answer(nameA, mode); }
    std::u16string FileNameW(uint64_t mode) const { return Answer(fileNameW, mode); }
    std::string FileNameA(uint64_t mode) const { return Answer(fileNameA, mode); }
};

}  // namespace modes
