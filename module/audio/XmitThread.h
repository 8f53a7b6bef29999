#pragma once

#include <ruzada/wintypes.h>

// The transmit thread: started at attach, ends on g_hStopXmitEvent or when
// g_bRunning drops.
DWORD XmitThreadProc(void* unused);
