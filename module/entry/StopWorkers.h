// Stopping the worker threads when the library is unloaded.
#pragma once

// Waits up to 2000 ms for the receive, transmit and FFT threads to end while it
// serves the calling thread's messages. Each one still running then gets its
// warning line; the receive and transmit threads are told to end at their next
// wait, and one stuck in a snap-in's call is given up to the platform, which
// ends it when (if ever) that call returns, never letting it back into this
// library. Returns once nothing of the module's own is left to wait for.
void StopWorkers();
