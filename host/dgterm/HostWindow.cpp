#include "HostWindow.h"

namespace rz::dgterm {

HostWindow::HostWindow(ModuleEvents& events) : m_events(events)
{
    m_window = CreateHostWindow(&HostWindow::Procedure, this);
}

HostWindow::~HostWindow()
{
    if (m_window)
        DestroyHostWindow(m_window);
}

void HostWindow::Dispatch()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&message);
}

LRESULT HostWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM)
{
    auto* self = static_cast<HostWindow*>(GetHostWindowUser(window));
    if (!self)
        return 0;
    if (message == self->m_char)
        self->m_events.OnReceived(wParam);
    else if (message == self->m_sentChar)
        self->m_events.OnSent(wParam);
    else if (message == self->m_rawData)
        self->m_events.OnSpectrum();
    return 0;
}

}  // namespace rz::dgterm
