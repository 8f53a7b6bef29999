#include "core/Settings.h"

#include <atomic>

#include <RUZada.h>

#include "core/Globals.h"
#include "core/Guard.h"

namespace {
// A flag is on only for the value 1; a missing key keeps the flag as it was.
void ReadFlag(std::atomic<bool>& flag, const char* key)
{
    flag = GetPrivateProfileIntA(kSettingsSection, key, flag ? 1 : 0, kSettingsFile) == 1;
}
}  // namespace

void DGRefreshSettings(void)
{
    Guarded([] {
        ReadFlag(g_bUseFFT, "UseFFT");
        ReadFlag(g_bSlowFFT, "SlowFFT");
        ReadFlag(g_bUse48KHz, "Use48KHz");
    });
}
