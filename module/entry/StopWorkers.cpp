#include "entry/StopWorkers.h"

#include <ruzada/hostlink.h>
#include <ruzada/outcall.h>

#include "core/Globals.h"
#include "spectrum/FFTThread.h"

namespace {

constexpr DWORD kThreadExitWaitMs = 2000;
// How long a worker told to end may take to reach its next wait or a snap-in's
// call, and how often it is looked at meanwhile.
constexpr DWORD kEndGraceMs = 200;
constexpr DWORD kEndStepMs = 10;
constexpr DWORD kWorkerCount = 3;

// A worker runs until its handle is signalled: one created at attach may not
// have set its alive flag yet, and one that was cancelled never clears it.
bool Running(HANDLE thread) { return thread && WaitForSingleObject(thread, 0) == WAIT_TIMEOUT; }

DWORD RunningWorkers(HANDLE (&running)[kWorkerCount])
{
    DWORD count = 0;
    for (HANDLE thread : {g_hRecvThread, g_hXmitThread, g_hFFTThread}) {
        if (Running(thread))
            running[count++] = thread;
    }
    return count;
}

// Serves the calling thread's messages while the workers finish, so a worker
// blocked in a send to this thread can still end; between messages it sleeps on
// the message queue and the workers together. Returns false at the deadline.
bool WaitForWorkers()
{
    const DWORD start = GetTickCount();
    HANDLE running[kWorkerCount];
    MSG msg;
    while (const DWORD count = RunningWorkers(running)) {
        const DWORD waited = GetTickCount() - start;
        if (waited >= kThreadExitWaitMs)
            return false;
        if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        } else if (MsgWaitForMultipleObjects(count, running, FALSE, kThreadExitWaitMs - waited, QS_ALLINPUT) ==
                   WAIT_FAILED) {
            Sleep(1);
        }
    }
    return true;
}

// Waits until a worker that was told to end has ended or has been given up
// inside a snap-in's call. One still in the module's own code after the grace
// waits for a lock that a stuck call holds, and so waits for ever.
void Settle(HANDLE thread, DWORD start)
{
    while (!AbandonOutCall(thread) && WaitForSingleObject(thread, kEndStepMs) == WAIT_TIMEOUT &&
           GetTickCount() - start < kEndGraceMs) {
    }
}

}  // namespace

void StopWorkers()
{
    if (WaitForWorkers())
        return;
    if (Running(g_hFFTThread))
        OutputDebugStringA("RUZada Warning: FFT Thread did not exit...\n");
    const bool recv = Running(g_hRecvThread);
    if (recv) {
        OutputDebugStringA("RUZada Warning: Receive Thread did not exit...\n");
        TerminateThread(g_hRecvThread, 0);
    }
    const bool xmit = Running(g_hXmitThread);
    if (xmit) {
        OutputDebugStringA("RUZada Warning: Send Thread did not exit...\n");
        TerminateThread(g_hXmitThread, 0);
    }
    const DWORD start = GetTickCount();
    if (recv)
        Settle(g_hRecvThread, start);
    if (xmit)
        Settle(g_hXmitThread, start);
}
