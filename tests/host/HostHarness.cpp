#include "HostHarness.h"

#include <dlfcn.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace fs = std::filesystem;

namespace rz::test::harness {

ModuleDir::ModuleDir()
{
    std::string pattern = (fs::temp_directory_path() / "ruzada-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
    fs::copy_file(RUZADA_MODULE_PATH, ModulePath());
}

ModuleDir::~ModuleDir()
{
    std::error_code ignored;
    fs::remove_all(m_path, ignored);
}

void ModuleDir::AddTestSnapin(const std::string& fileName, const std::string& as)
{
    fs::copy_file(fs::path(RUZADA_TEST_SNAPIN_DIR) / fileName, fs::path(m_path) / (as.empty() ? fileName : as));
}

void ModuleDir::AddFile(const std::string& fileName, const std::string& content)
{
    std::ofstream(fs::path(m_path) / fileName, std::ios::binary) << content;
}

LoadedModule::LoadedModule(const std::string& path) { m_handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL); }

LoadedModule::~LoadedModule() { Unload(); }

void LoadedModule::Unload()
{
    if (m_handle)
        dlclose(m_handle);
    m_handle = nullptr;
}

void* LoadedModule::Symbol(const char* name) const { return m_handle ? dlsym(m_handle, name) : nullptr; }

DebugLog::DebugLog() { SetDebugOutputHandler(&DebugLog::Collect, this); }

DebugLog::~DebugLog() { SetDebugOutputHandler(nullptr, nullptr); }

void DebugLog::Collect(const char* text, void* self)
{
    auto* log = static_cast<DebugLog*>(self);
    std::lock_guard hold(log->m_lock);
    log->m_lines.emplace_back(text);
}

std::vector<std::string> DebugLog::Lines() const
{
    std::lock_guard hold(m_lock);
    return m_lines;
}

int DebugLog::Count(const std::string& fragment) const
{
    int count = 0;
    for (const std::string& line : Lines())
        count += line.find(fragment) != std::string::npos;
    return count;
}

HostWindow::HostWindow()
    : msgChar(RegisterWindowMessageA("DG_CHAR")),
      msgSentChar(RegisterWindowMessageA("DG_SENTCHAR")),
      msgRawData(RegisterWindowMessageA("DG_RAWDATA")),
      msgVU(RegisterWindowMessageA("DG_VU")),
      msgXmitRecv(RegisterWindowMessageA("DG_XMITRECV")),
      msgRequestCom(RegisterWindowMessageA("DG_REQUESTCOM"))
{
    m_hwnd = CreateHostWindow(&HostWindow::Procedure, this);
}

HostWindow::~HostWindow() { DestroyHostWindow(m_hwnd); }

LRESULT HostWindow::Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = static_cast<HostWindow*>(GetHostWindowUser(hwnd));
    if (!self)
        return 0;
    {
        std::lock_guard hold(self->m_lock);
        self->m_received.push_back({message, wParam, lParam, GetCurrentThreadId()});
    }
    return message == self->msgRequestCom ? self->m_requestComReply : 0;
}

bool HostWindow::PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    return WaitUntil(
        [&] {
            MSG msg;
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageA(&msg);
            return done();
        },
        limit);
}

void HostWindow::PumpFor(std::chrono::milliseconds span)
{
    PumpUntil([] { return false; }, span);
}

std::vector<Received> HostWindow::Messages(UINT message) const
{
    std::lock_guard hold(m_lock);
    std::vector<Received> found;
    for (const Received& r : m_received)
        if (r.message == message)
            found.push_back(r);
    return found;
}

std::vector<Received> HostWindow::All() const
{
    std::lock_guard hold(m_lock);
    return m_received;
}

int OpenDescriptorCount()
{
    const fs::directory_iterator descriptors("/proc/self/fd");
    return static_cast<int>(std::distance(begin(descriptors), end(descriptors)));
}

// A sanitizer's runtime may start a thread of its own with the first thread
// created: one made first puts it in every count.
int ThreadCount()
{
    static std::once_flag runtimeStarted;
    std::call_once(runtimeStarted, [] { std::thread([] {}).join(); });
    const fs::directory_iterator tasks("/proc/self/task");
    return static_cast<int>(std::distance(begin(tasks), end(tasks)));
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace rz::test::harness
