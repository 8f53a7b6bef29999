#pragma once

#include <ruzada/wintypes.h>

// The receive thread: started at attach, ends on g_hStopRecvEvent or when
// g_bRunning drops.
DWORD RecvThreadProc(void* unused);
