// What a host test needs: a fresh module folder, the module loaded from it as a
// host loads it, a host window that records what the module reports, and the
// module's debug output.
#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <ruzada/hostlink.h>
#include <ruzada/kernel.h>

namespace rz::test::harness {

// A temporary folder holding a copy of RUZada.so and the snap-ins a test picks.
class ModuleDir {
public:
    ModuleDir();
    ~ModuleDir();
    ModuleDir(const ModuleDir&) = delete;
    ModuleDir& operator=(const ModuleDir&) = delete;

    const std::string& Path() const { return m_path; }
    std::string ModulePath() const { return m_path + "/RUZada.so"; }
    // Copies a test snap-in (by its file name, e.g. "DGmask1.so") into the folder.
    void AddTestSnapin(const std::string& fileName, const std::string& as = "");
    // Writes a file of any content, for things that only look like snap-ins.
    void AddFile(const std::string& fileName, const std::string& content);

private:
    std::string m_path;
};

// The module as a host has it: dlopen'd from a folder, its exports looked up.
class LoadedModule {
public:
    explicit LoadedModule(const std::string& path);
    ~LoadedModule();
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

// Collects every debug-output line while it lives.
class DebugLog {
public:
    DebugLog();
    ~DebugLog();
    std::vector<std::string> Lines() const;
    int Count(const std::string& fragment) const;

private:
    static void Collect(const char* text, void* self);
    mutable std::mutex m_lock;
    std::vector<std::string> m_lines;
};

struct Received {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD threadId;
};

// A host window on the calling thread that records every message and answers
// "DG_REQUESTCOM" with a number the test chooses.
class HostWindow {
public:
    HostWindow();
    ~HostWindow();
    HWND Handle() const { return m_hwnd; }
    void AnswerRequestCom(LRESULT port) { m_requestComReply = port; }
    // Handles this thread's messages until `done` holds or the time is up.
    bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);
    void PumpFor(std::chrono::milliseconds span);
    // Handles every message waiting now.
    void Drain()
    {
        PumpUntil([] { return true; }, std::chrono::milliseconds(0));
    }
    std::vector<Received> Messages(UINT message) const;
    std::vector<Received> All() const;

    const UINT msgChar, msgSentChar, msgRawData, msgVU, msgXmitRecv, msgRequestCom;

private:
    static LRESULT Procedure(HWND, UINT, WPARAM, LPARAM);
    HWND m_hwnd = nullptr;
    LRESULT m_requestComReply = 0;
    mutable std::mutex m_lock;
    std::vector<Received> m_received;
};

int OpenDescriptorCount();

// Waits for `done` with a deadline, without pumping messages.
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);

}  // namespace rz::test::harness
