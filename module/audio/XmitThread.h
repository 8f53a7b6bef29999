#pragma once

#include <cstddef>

#include <ruzada/wintypes.h>

// The thread keeps its audio blocks, 1.3 MB, on its own stack.
inline constexpr size_t kXmitThreadStackBytes = size_t{4} << 20;

// The transmit thread: started at attach, ends on g_hStopXmitEvent or when
// g_bRunning drops.
DWORD XmitThreadProc(void* unused);
