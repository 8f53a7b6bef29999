// The process's table of host windows. Handles are identifiers into it, so a
// window that is gone is simply not found.
#pragma once

#include <memory>
#include <optional>

#include "hostlink/queue.h"
#include "ruzada/hostlink.h"

namespace rz::hostlink {

struct Window {
    WNDPROC procedure;
    void* user;
    std::shared_ptr<Queue> owner;
};

std::optional<Window> LookUpWindow(HWND window);
// Queues `message` to the owner of message.hwnd while the table still holds the
// window, so a window destroyed meanwhile keeps no post. QueueGone when the
// window or its queue is gone.
PostResult PostToWindow(const MSG& message);
// The thread that owns these windows is ending.
void ForgetWindowsOf(const Queue& owner);

}  // namespace rz::hostlink
