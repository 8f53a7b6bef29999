// What the loader keeps for the error texts.
#pragma once

#include <string_view>

#include "ruzada/kernel.h"

namespace rz::kernel {

// The dynamic loader's reason for the calling thread's last failed LoadLibraryA,
// when that failed with `code`; empty otherwise.
std::string_view LoadFailureReason(DWORD code);

}  // namespace rz::kernel
