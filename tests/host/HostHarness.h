// A fresh module folder, the module loaded from it as a host loads it, and a
// host window that knows the module's messages.
#pragma once

#include <string>

#include "SuiteHelpers.h"

namespace rz::test::harness {

using namespace rz::test::support;

// A temporary folder holding a copy of RUZada.so and the snap-ins a test picks.
class ModuleDir : public TempDir {
public:
    ModuleDir();
    std::string ModulePath() const { return TempDir::Path("RUZada.so"); }
    // Copies a test snap-in (by its file name, e.g. "DGmask1.so") into the folder.
    void AddTestSnapin(const std::string& fileName, const std::string& as = "");
};

// The module as a host has it: dlopen'd from a folder, its exports looked up.
class LoadedModule {
public:
    explicit LoadedModule(const std::string& path);
    ~LoadedModule() { Unload(); }
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;

    template <class Fn>
    Fn Get(const char* name) const
    {
        return reinterpret_cast<Fn>(Symbol(name));
    }
    bool Loaded() const { return m_handle != nullptr; }
    void Unload();

private:
    void* Symbol(const char* name) const;
    void* m_handle = nullptr;
};

// A recording host window and the numbers of the messages the module sends it.
struct HostWindow : RecordingWindow {
    void PumpFor(std::chrono::milliseconds span)
    {
        PumpUntil([] { return false; }, span);
    }
    const UINT msgChar = RegisterWindowMessageA("DG_CHAR");
    const UINT msgSentChar = RegisterWindowMessageA("DG_SENTCHAR");
    const UINT msgRawData = RegisterWindowMessageA("DG_RAWDATA");
    const UINT msgXmitRecv = RegisterWindowMessageA("DG_XMITRECV");
};

}  // namespace rz::test::harness
