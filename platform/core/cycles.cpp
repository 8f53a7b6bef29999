// The processor's cycle counter, one whole definition per architecture.
#include <time.h>

#include "ruzada/kernel.h"

#if defined(__x86_64__) || defined(__i386__)

#include <x86intrin.h>

uint64_t ReadCycleCounter(void) { return __rdtsc(); }

#else

// No portable cycle counter: the monotonic clock in nanoseconds stands in.
uint64_t ReadCycleCounter(void)
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
}

#endif
