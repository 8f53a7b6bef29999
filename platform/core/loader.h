// What the loader offers the rest of the platform: the reason for a failed load,
// and loads taken on a library's behalf.
#pragma once

#include <string_view>

#include "ruzada/kernel.h"

namespace rz::kernel {

// The dynamic loader's reason for the calling thread's last failed LoadLibraryA,
// when that failed with `code`; empty otherwise.
std::string_view LoadFailureReason(DWORD code);

// One more load of the library that holds `address`, to be dropped with
// FreeLibrary; null when no loaded library holds it.
HMODULE AddLoadOfLibraryAt(const void* address);

}  // namespace rz::kernel
