// The host window that dgterm binds to the module: the registered messages it
// recognises, and the module's reports handed on as calls.
#pragma once

#include <cstdint>

#include <ruzada/hostlink.h>

namespace rz::dgterm {

// What the module reports. Characters are the wParam of "DG_CHAR" and
// "DG_SENTCHAR" as posted: a UTF-16 unit, or a byte sign-extended.
class ModuleEvents {
public:
    virtual ~ModuleEvents() = default;
    virtual void OnReceived(uint32_t ch) = 0;
    virtual void OnSent(uint32_t ch) = 0;
    // "DG_RAWDATA": a new spectrum waits for GetDGFFTData.
    virtual void OnSpectrum() = 0;
};

// For commands that have no use for the reports.
class IgnoredEvents final : public ModuleEvents {
public:
    void OnReceived(uint32_t) override {}
    void OnSent(uint32_t) override {}
    void OnSpectrum() override {}
};

class HostWindow {
public:
    // Owned by the calling thread, whose queue then carries the module's messages.
    explicit HostWindow(ModuleEvents& events);
    ~HostWindow();
    HostWindow(const HostWindow&) = delete;
    HostWindow& operator=(const HostWindow&) = delete;

    HWND Handle() const { return m_window; }
    // Readable while messages wait: poll it beside the keyboard.
    int QueueFd() const { return GetMessageQueueFd(); }
    // Handles every message waiting, sent or posted.
    void Dispatch();

private:
    static LRESULT Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    ModuleEvents& m_events;
    const UINT m_char = RegisterWindowMessageA("DG_CHAR");
    const UINT m_sentChar = RegisterWindowMessageA("DG_SENTCHAR");
    const UINT m_rawData = RegisterWindowMessageA("DG_RAWDATA");
    HWND m_window = nullptr;
};

}  // namespace rz::dgterm
