// The library entry: attach when the host loads RUZada.so, detach when it unloads
// it or exits.
//
// Detach is registered with atexit once attach is done. Handlers of a shared
// library run at dlclose as well as at exit, newest first, so detach always runs
// before the destructors of the module's static objects — which therefore carry
// init priorities: they are built before attach and destroyed after detach.
#include <cstdlib>

#include <ruzada/kernel.h>

#include "core/lifecycle.h"

namespace {

void OnProcessDetach() { DetachModule(); }

[[gnu::constructor]] void OnProcessAttach()
{
    // Threads created during attach wait for it to finish, as on Windows.
    BeginModuleAttach();
    AttachModule(GetModuleHandleFromAddress(reinterpret_cast<const void*>(&OnProcessAttach)));
    EndModuleAttach();
    std::atexit(OnProcessDetach);
}

}  // namespace
