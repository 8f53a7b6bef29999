// The library entry: attach when the host loads RUZada.so, detach when it unloads
// it or exits.
//
// Detach is registered with __cxa_atexit for this library once attach is done.
// A library's handlers run at dlclose as well as at exit, newest first, so detach
// always runs before the destructors of the module's static objects — which
// therefore carry init priorities: they are built before attach and destroyed
// after detach. (Plain atexit is not tied to the library under every runtime:
// ThreadSanitizer's interceptor runs it only at exit.)

#include <ruzada/kernel.h>

#include "entry/Lifecycle.h"

extern "C" int __cxa_atexit(void (*function)(void*), void* argument, void* library);
extern "C" void* __dso_handle;

namespace {

void OnProcessDetach(void*) { DetachModule(); }

[[gnu::constructor]] void OnProcessAttach()
{
    // Threads created during attach wait for it to finish, as on Windows.
    BeginModuleAttach();
    AttachModule(GetModuleHandleFromAddress(reinterpret_cast<const void*>(&OnProcessAttach)));
    EndModuleAttach();
    __cxa_atexit(OnProcessDetach, nullptr, &__dso_handle);
}

}  // namespace
