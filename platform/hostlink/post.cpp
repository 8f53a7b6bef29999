#include <time.h>

#include <cstdint>

#include "hostlink/queue.h"
#include "hostlink/windows.h"
#include "ruzada/guarded.h"
#include "ruzada/kernel.h"

namespace {

// Milliseconds of the monotonic clock, wrapping as GetTickCount does.
DWORD TickNow()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<DWORD>(static_cast<uint64_t>(now.tv_sec) * 1000u +
                              static_cast<uint64_t>(now.tv_nsec) / 1000000u);
}

}  // namespace

using namespace rz::hostlink;
using rz::Guarded;

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return Guarded(BOOL{FALSE}, [&] {
        switch (PostToWindow(MSG{window, message, wParam, lParam, TickNow()})) {
            case PostResult::Queued:
                return TRUE;
            case PostResult::QueueFull:
                SetLastError(ERROR_NOT_ENOUGH_QUOTA);
                return FALSE;
            case PostResult::QueueGone:
                break;
        }
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    });
}

void PostQuitMessage(int exitCode)
{
    Guarded([&] {
        if (Queue* own = ThreadQueue())
            own->Post(MSG{nullptr, WM_QUIT, static_cast<WPARAM>(exitCode), 0, TickNow()}, false);
    });
}
