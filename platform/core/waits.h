// The platform's wait-any, as the host link uses it to wait on a thread's
// messages and kernel objects together.
#pragma once

#include "ruzada/kernel.h"

namespace rz::kernel {

// WaitForMultipleObjects (wait-any) on `count` handles, 0 to 63, with `fd` (-1
// for none) polled beside them: WAIT_OBJECT_0 + count when the descriptor is
// readable and no object is signalled.
DWORD WaitForObjectsOrFd(DWORD count, const HANDLE* handles, int fd, DWORD milliseconds);

}  // namespace rz::kernel
