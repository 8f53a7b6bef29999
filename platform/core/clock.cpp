// Clocks on CLOCK_MONOTONIC.
#include <time.h>

#include "ruzada/kernel.h"

namespace {

constexpr int64_t kNanosecondsPerSecond = 1000000000;

int64_t MonotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t{now.tv_sec} * kNanosecondsPerSecond + now.tv_nsec;
}

}  // namespace

DWORD GetTickCount(void) { return static_cast<DWORD>(MonotonicNs() / 1000000); }

BOOL QueryPerformanceCounter(int64_t* count)
{
    if (!count) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *count = MonotonicNs();
    return TRUE;
}

BOOL QueryPerformanceFrequency(int64_t* frequency)
{
    if (!frequency) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *frequency = kNanosecondsPerSecond;
    return TRUE;
}
