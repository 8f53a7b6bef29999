// Kernel objects and the process-wide handle table.
//
// A HANDLE is a number that names an entry of the table, never an object's
// address: closed and unknown handles are recognised and answered with
// ERROR_INVALID_HANDLE. Objects are shared: a wait in progress, or a running
// thread, keeps its object alive after the handle has been closed.
//
// Platform backends (serial devices, wave devices) derive their own objects from
// KernelObject and register them here, so that CloseHandle, the waits and
// GetHandleFd serve them as they serve events and threads.
#pragma once

#include <memory>

#include "ruzada/kernel.h"

namespace rz::kernel {

class KernelObject {
public:
    virtual ~KernelObject() = default;

    // A descriptor that polls readable while the object is signalled; -1 for an
    // object that cannot be waited on. It must stay open as long as the object.
    virtual int PollFd() const { return -1; }

    // Called by a wait whose poll saw PollFd ready (readable, error or hang-up),
    // to take the signal. An auto-reset object resets itself here, and answers
    // false when another waiter took the signal first, leaving the descriptor no
    // longer ready; the wait then goes on. Must not block.
    virtual bool ConsumeSignal() { return true; }
};

// Enters `object` in the table. Null, with ERROR_NOT_ENOUGH_MEMORY, when the
// table cannot grow.
HANDLE RegisterHandle(std::shared_ptr<KernelObject> object);

// The object `handle` names; null, with ERROR_INVALID_HANDLE, when it names none.
std::shared_ptr<KernelObject> LookupHandle(HANDLE handle);

// As LookupHandle, and the object must be a T (ERROR_INVALID_HANDLE otherwise).
template <class T>
std::shared_ptr<T> LookupHandleAs(HANDLE handle)
{
    std::shared_ptr<T> object = std::dynamic_pointer_cast<T>(LookupHandle(handle));
    if (!object)
        SetLastError(ERROR_INVALID_HANDLE);
    return object;
}

// Removes the entry and hands back its object, so that the last reference may be
// dropped outside the table's lock; null, with ERROR_INVALID_HANDLE, when there
// is no entry.
std::shared_ptr<KernelObject> UnregisterHandle(HANDLE handle);

}  // namespace rz::kernel
