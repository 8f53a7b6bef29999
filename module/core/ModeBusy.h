// Keeps the worker threads off the snap-in while the mode or the sound card is
// being reconfigured, and lets them back on however that ends (a snap-in may
// throw from InitRUZada).
#pragma once

#include "core/Globals.h"

class CModeBusy {
public:
    CModeBusy() { g_bModeBusy = 1; }
    ~CModeBusy() { g_bModeBusy = 0; }
    CModeBusy(const CModeBusy&) = delete;
    CModeBusy& operator=(const CModeBusy&) = delete;
};
