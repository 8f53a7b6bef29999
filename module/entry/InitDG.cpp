#include <RUZada.h>

#include "core/Globals.h"
#include "core/Guard.h"

uint64_t InitDG(HWND host)
{
    return Guarded(uint64_t{0}, [&] {
        g_hwndHost = host;
        g_qwAvailableModes = 0;
        const uint64_t modes = EnumRUZadas();
        g_bModeBusy = 0;
        return modes;
    });
}
