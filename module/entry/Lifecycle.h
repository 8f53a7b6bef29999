// The library's attach and detach sequences, run by its entry routine when the
// library is loaded into a host and when it is unloaded.
#pragma once

#include <ruzada/wintypes.h>

void AttachModule(HMODULE self);
void DetachModule();
