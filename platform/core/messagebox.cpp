// The message-box sink: the host's handler, else the debug output and stderr.
#include <cstdio>

#include "core/debugout.h"
#include "core/handlerslot.h"
#include "ruzada/kernel.h"

namespace rz::kernel {
namespace {

// Never destroyed, as the debug-output sink.
HandlerSlot<MessageBoxHandler>& Slot()
{
    static auto& slot = *new HandlerSlot<MessageBoxHandler>;
    return slot;
}

}  // namespace
}  // namespace rz::kernel

using namespace rz::kernel;

int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type)
{
    text = text ? text : "";
    // Windows' caption when none is given.
    caption = caption ? caption : "Error";
    int answer = IDOK;
    if (Slot().With([&](MessageBoxHandler handler, void* user) { answer = handler(owner, text, caption, type, user); }))
        return answer;
    OutputDebugStringA(text);
    if (!DebugOutputGoesToStderr())
        std::fprintf(stderr, "%s: %s\n", caption, text);
    return IDOK;
}

void SetMessageBoxHandler(MessageBoxHandler handler, void* user) { Slot().Set(handler, user); }
