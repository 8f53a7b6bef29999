/* Calls out of one library into another that may never come back: the module
 * calling its snap-ins' codec functions on its worker threads.
 *
 * The call instruction is the platform's, so the callee returns here, into a
 * library that outlives both. A thread whose call out has been given up
 * (AbandonOutCall) therefore never goes back into its caller's code, which may
 * have been unloaded meanwhile: when the call returns, or unwinds, the thread
 * ends here, as if terminated, and its stack goes with it.
 *
 * Only threads of CreateThread can be given up; on any other thread these are
 * plain calls. A thread that TerminateThread has asked to end ends before it
 * calls out. A null routine is not called and gives 0. */
#ifndef RUZADA_OUTCALL_H
#define RUZADA_OUTCALL_H

#ifndef __cplusplus
#include <uchar.h>
#endif

#include "wintypes.h"

RZ_PLATFORM_API int CallOutSamples(int (*routine)(int16_t* samples, int count), int16_t* samples, int count);
RZ_PLATFORM_API int CallOutEncodeA(int (*routine)(int16_t* samples, int capacity, const char* chars, int count),
                                   int16_t* samples, int capacity, const char* chars, int count);
RZ_PLATFORM_API int CallOutEncodeW(int (*routine)(int16_t* samples, int capacity, const char16_t* chars, int count),
                                   int16_t* samples, int capacity, const char16_t* chars, int count);
RZ_PLATFORM_API int CallOutDecodeA(int (*routine)(const int16_t* samples, int count, char* chars, int capacity),
                                   const int16_t* samples, int count, char* chars, int capacity);
RZ_PLATFORM_API int CallOutDecodeW(int (*routine)(const int16_t* samples, int count, char16_t* chars, int capacity),
                                   const int16_t* samples, int count, char16_t* chars, int capacity);

/* Gives up the call out that `thread` is making, if it is making one: the
 * library called keeps one more load (it stays mapped) until the call returns;
 * then the thread drops that load and ends, with the exit code TerminateThread
 * gave it (else 0). Memory the call was handed must stay valid as long as the
 * thread lives: a stuck caller keeps it on its own stack, or leaves it allocated.
 * TRUE when the call was given up; FALSE when the thread was running its own
 * code or had ended, and for a bad handle (ERROR_INVALID_HANDLE). */
RZ_PLATFORM_API BOOL AbandonOutCall(HANDLE thread);

#endif
