// What the suites share: waits with a deadline, a temporary folder, the debug
// output and host messages a test collects, the process's threads and descriptors.
#pragma once

#include <dirent.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <ruzada/hostlink.h>
#include <ruzada/kernel.h>

namespace rz::test::support {

using namespace std::chrono_literals;

// Polls `done` until it holds; false when it still does not at the deadline. The
// deadlines are generous: a loaded machine may hold a test thread up for seconds.
inline bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return done();
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// Sets or, with null, removes an environment variable.
inline void SetVariable(const char* name, const char* value)
{
    if (value)
        setenv(name, value, 1);
    else
        unsetenv(name);
}

// A fresh folder under the temporary directory, removed with everything in it.
class TempDir {
public:
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "ruzada-test-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        m_path = pattern;
    }
    ~TempDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return m_path; }
    std::string Path(const std::string& name) const { return m_path + "/" + name; }
    // Writes a file of the folder and returns its path.
    std::string Write(const std::string& name, const std::string& content) const
    {
        std::ofstream(Path(name), std::ios::binary) << content;
        return Path(name);
    }

private:
    std::string m_path;
};

// Every debug-output line, from any thread, while it lives.
class DebugLines {
public:
    DebugLines() { SetDebugOutputHandler(&DebugLines::Collect, this); }
    ~DebugLines() { SetDebugOutputHandler(nullptr, nullptr); }
    DebugLines(const DebugLines&) = delete;
    DebugLines& operator=(const DebugLines&) = delete;

    std::vector<std::string> Lines() const
    {
        std::lock_guard hold(m_lock);
        return m_lines;
    }
    int Count(const std::string& fragment) const
    {
        int count = 0;
        for (const std::string& line : Lines())
            count += line.find(fragment) != std::string::npos;
        return count;
    }

private:
    static void Collect(const char* text, void* self)
    {
        auto* lines = static_cast<DebugLines*>(self);
        std::lock_guard hold(lines->m_lock);
        lines->m_lines.emplace_back(text);
    }
    mutable std::mutex m_lock;
    std::vector<std::string> m_lines;
};

struct Received {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

// A host window on the calling thread that records every message it is given and
// answers each with a number the test chooses.
class RecordingWindow {
public:
    RecordingWindow() : m_hwnd(CreateHostWindow(&RecordingWindow::Procedure, this)) {}
    ~RecordingWindow() { DestroyHostWindow(m_hwnd); }
    RecordingWindow(const RecordingWindow&) = delete;
    RecordingWindow& operator=(const RecordingWindow&) = delete;

    HWND Handle() const { return m_hwnd; }
    void Answer(LRESULT reply) { m_reply = reply; }
    // Handles this thread's messages until `done` holds or the time is up.
    bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s)
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
    // Handles every message waiting now.
    void Drain()
    {
        PumpUntil([] { return true; }, 0ms);
    }
    std::vector<Received> Messages(UINT message) const
    {
        std::lock_guard hold(m_lock);
        std::vector<Received> found;
        for (const Received& r : m_received)
            if (r.message == message)
                found.push_back(r);
        return found;
    }

private:
    static LRESULT Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
    {
        auto* self = static_cast<RecordingWindow*>(GetHostWindowUser(hwnd));
        if (!self)
            return 0;
        std::lock_guard hold(self->m_lock);
        self->m_received.push_back({message, wParam, lParam});
        return self->m_reply;
    }
    HWND m_hwnd;
    LRESULT m_reply = 0;
    mutable std::mutex m_lock;
    std::vector<Received> m_received;
};

inline int EntryCount(const char* folder)
{
    int count = 0;
    if (DIR* dir = opendir(folder)) {
        while (readdir(dir))
            ++count;
        closedir(dir);
    }
    return count;
}

inline int OpenDescriptorCount() { return EntryCount("/proc/self/fd"); }

// A sanitizer's runtime may start a thread of its own with the first thread
// created: one made first puts it in every count.
inline int ThreadCount()
{
    static std::once_flag runtimeStarted;
    std::call_once(runtimeStarted, [] { std::thread([] {}).join(); });
    return EntryCount("/proc/self/task");
}

}  // namespace rz::test::support
