// Starting one of the module's worker threads.
#pragma once

#include <ruzada/kernel.h>

// Creates the thread, running at once, with the stack size given (0: the
// default); on failure writes "RUZada:CreateThread(<tag>)::" and the system's text
// for the error to the debug output, and returns null.
HANDLE StartWorker(LPTHREAD_START_ROUTINE routine, const char* tag, size_t stackBytes = 0);
