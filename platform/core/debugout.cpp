// The process-wide debug-output sink: the host's handler, and stderr on demand.
#include "core/debugout.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/handlerslot.h"
#include "ruzada/kernel.h"

namespace rz::kernel {
namespace {

// Never destroyed: threads still write while the process exits.
HandlerSlot<DebugOutputHandler>& Slot()
{
    static auto& slot = *new HandlerSlot<DebugOutputHandler>;
    return slot;
}

}  // namespace

bool DebugOutputGoesToStderr()
{
    const char* setting = std::getenv("RUZADA_DEBUG");
    return setting && std::strcmp(setting, "1") == 0;
}

}  // namespace rz::kernel

using namespace rz::kernel;

void OutputDebugStringA(const char* text)
{
    if (!text)
        return;
    Slot().With([text](DebugOutputHandler handler, void* user) { handler(text, user); });
    if (DebugOutputGoesToStderr())
        std::fputs(text, stderr);
}

void SetDebugOutputHandler(DebugOutputHandler handler, void* user) { Slot().Set(handler, user); }
