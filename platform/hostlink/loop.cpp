// The receiving side of a thread's message loop.
#include <optional>

#include "core/waits.h"
#include "hostlink/queue.h"
#include "hostlink/send.h"
#include "hostlink/windows.h"
#include "ruzada/guarded.h"
#include "ruzada/kernel.h"

namespace {

constexpr BOOL kGetMessageFailed = -1;

// A filter must name a live window; NULL takes everything of the thread.
bool FilterIsValid(HWND filter)
{
    if (!filter || IsWindow(filter))
        return true;
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
}

}  // namespace

using namespace rz::hostlink;
using rz::Guarded;

BOOL PeekMessageA(MSG* message, HWND filter, UINT first, UINT last, UINT remove)
{
    if (!message) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!FilterIsValid(filter))
        return FALSE;
    return Guarded(BOOL{FALSE}, [&] {
        Queue* own = ThreadQueue();
        if (!own)
            return FALSE;
        HandleSentMessages(*own);
        return own->TakePosted(message, filter, first, last, (remove & PM_REMOVE) != 0) ? TRUE : FALSE;
    });
}

BOOL GetMessageA(MSG* message, HWND filter, UINT first, UINT last)
{
    if (!message) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return kGetMessageFailed;
    }
    if (!FilterIsValid(filter))
        return kGetMessageFailed;
    return Guarded(kGetMessageFailed, [&] {
        Queue* own = ThreadQueue();
        if (!own)
            return kGetMessageFailed;
        for (;;) {
            HandleSentMessages(*own);
            if (own->TakePosted(message, filter, first, last, true))
                return message->message == WM_QUIT ? FALSE : TRUE;
            own->WaitForPosted(filter, first, last);
        }
    });
}

BOOL TranslateMessage(const MSG*) { return FALSE; }

LRESULT DispatchMessageA(const MSG* message)
{
    if (!message || !message->hwnd)
        return 0;
    return Guarded(LRESULT{0}, [&]() -> LRESULT {
        std::optional<Window> window = LookUpWindow(message->hwnd);
        if (!window) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        // A procedure runs only on its window's thread.
        if (window->owner.get() != ExistingThreadQueue()) {
            SetLastError(ERROR_ACCESS_DENIED);
            return 0;
        }
        return window->procedure(message->hwnd, message->message, message->wParam, message->lParam);
    });
}

DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds, DWORD wakeMask)
{
    if (waitAll) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return WAIT_FAILED;
    }
    return Guarded(WAIT_FAILED, [&] {
        int fd = -1;
        if (wakeMask == QS_ALLINPUT) {
            Queue* own = ThreadQueue();
            fd = own ? own->Fd() : -1;
            if (fd < 0)
                return WAIT_FAILED;
        }
        return rz::kernel::WaitForObjectsOrFd(count, handles, fd, milliseconds);
    });
}

int GetMessageQueueFd(void)
{
    return Guarded(-1, [] {
        Queue* own = ThreadQueue();
        return own ? own->Fd() : -1;
    });
}
