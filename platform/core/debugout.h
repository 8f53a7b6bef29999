// The debug-output sink, as the message-box sink sees it.
#pragma once

namespace rz::kernel {

// True when debug output is copied to stderr (RUZADA_DEBUG=1).
bool DebugOutputGoesToStderr();

}  // namespace rz::kernel
