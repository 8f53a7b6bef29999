#include "entry/Lifecycle.h"

#include <cstring>
#include <vector>

#include <RUZada.h>

#include "audio/RecvThread.h"
#include "audio/Sound.h"
#include "audio/XmitThread.h"
#include "base/ExtensionModule.h"
#include "core/Globals.h"
#include "core/Processor.h"
#include "core/Worker.h"
#include "modes/ModeList.h"
#include "res/Strings.h"
#include "serial/ComPortList.h"
#include "spectrum/FFTThread.h"

namespace {

constexpr DWORD kThreadExitWaitMs = 2000;
// How long a thread that was told to cancel may take before it counts as stuck.
constexpr DWORD kCancelGraceMs = 200;

void StoreModuleDir(HMODULE self)
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(self, path, MAX_PATH);
    if (char* slash = std::strrchr(path, '/'))
        *slash = '\0';
    std::memcpy(g_szModuleDir, path, sizeof g_szModuleDir);
}

// A thread created at attach may not have reached its first step (setting its
// alive flag) yet, so a worker counts as running until its handle is signalled.
bool Running(const std::atomic<BOOL>& alive, HANDLE thread)
{
    return alive || (thread && WaitForSingleObject(thread, 0) == WAIT_TIMEOUT);
}

bool AnyWorkerAlive()
{
    return Running(g_bRecvThreadAlive, g_hRecvThread) || Running(g_bXmitThreadAlive, g_hXmitThread) ||
           Running(g_bFFTThreadAlive, g_hFFTThread);
}

// Dispatches the calling thread's messages while the workers finish, so a worker
// blocked in a send to this thread can still end. Returns false at the deadline.
bool WaitForWorkers()
{
    const DWORD start = GetTickCount();
    MSG msg;
    while (AnyWorkerAlive()) {
        if (GetTickCount() - start >= kThreadExitWaitMs)
            return false;
        if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        } else {
            Sleep(0);
        }
    }
    return true;
}

// Cancels a worker that did not end; true when it is gone.
bool CancelWorker(HANDLE thread)
{
    if (!thread)
        return false;
    TerminateThread(thread, 0);
    return WaitForSingleObject(thread, kCancelGraceMs) == WAIT_OBJECT_0;
}

// Warns about each worker still running and stops what can be stopped. True when
// some thread is still running module code.
bool StopStuckWorkers()
{
    bool stuck = false;
    if (Running(g_bFFTThreadAlive, g_hFFTThread)) {
        OutputDebugStringA("RUZada Warning: FFT Thread did not exit...\n");
        stuck = true;
    }
    if (Running(g_bRecvThreadAlive, g_hRecvThread)) {
        OutputDebugStringA("RUZada Warning: Receive Thread did not exit...\n");
        stuck |= !CancelWorker(g_hRecvThread);
    }
    if (Running(g_bXmitThreadAlive, g_hXmitThread)) {
        OutputDebugStringA("RUZada Warning: Send Thread did not exit...\n");
        stuck |= !CancelWorker(g_hXmitThread);
    }
    return stuck;
}

void CloseAndClear(HANDLE& handle)
{
    if (handle)
        CloseHandle(handle);
    handle = nullptr;
}

}  // namespace

void AttachModule(HMODULE self)
{
    g_ExtModule.hModule = self;
    g_ExtModule.hResource = self;
    RegisterModuleStrings(self);

    g_qwCpuHz = MeasureProcessorHz();
    g_dwCpuSpeed = ProcessorSpeedFigure(g_qwCpuHz);
    OutputDebugStringA(ProcessorLine(g_qwCpuHz).c_str());

    DGRefreshSettings();
    InitDFT();

    try {
        g_pSound = new CSound(64, 48);
    } catch (...) {
        g_pSound = nullptr;
    }

    InitializeCriticalSection(&g_csSendQueue);
    InitializeCriticalSection(&g_csMode);
    InitializeCriticalSection(&g_csSound);

    g_hXmitEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    g_hStopRecvEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (g_hStopRecvEvent)
        ResetEvent(g_hStopRecvEvent);
    g_hStopXmitEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (g_hStopXmitEvent)
        ResetEvent(g_hStopXmitEvent);

    StoreModuleDir(self);

    g_bRunning = 1;
    g_hRecvThread = StartWorker(RecvThreadProc, "RECV");
    g_hXmitThread = StartWorker(XmitThreadProc, "XMIT");
}

void DetachModule()
{
    std::vector<CModeRecord*> records = g_ModeList.TakeAll();

    g_bRunning = 0;
    g_dwSoundMode = 0;
    SetEvent(g_hStopRecvEvent);
    SetEvent(g_hStopXmitEvent);
    if (HANDLE wake = g_hXmitEvent.exchange(nullptr))
        CloseHandle(wake);

    // A worker stuck in a snap-in still runs module code: keep the library mapped
    // and leave alive everything it can reach.
    const bool stuck = !WaitForWorkers() && StopStuckWorkers();
    if (stuck)
        PinModule(g_ExtModule.hModule);

    // A stuck worker may be inside the sound card: then it stays.
    if (CSound* sound = stuck ? nullptr : g_pSound.exchange(nullptr)) {
        if (sound->IsInOpen())
            sound->CloseIn();
        if (sound->IsOutOpen())
            sound->CloseOut();
        delete sound;
    }

    for (CModeRecord* record : records)
        delete record;

    if (stuck)
        return;

    CloseAllComPorts();

    if (HMODULE library = g_hModeLib.exchange(nullptr))
        FreeLibrary(library);

    DeleteCriticalSection(&g_csSendQueue);
    DeleteCriticalSection(&g_csMode);
    DeleteCriticalSection(&g_csSound);

    CloseAndClear(g_hStopRecvEvent);
    CloseAndClear(g_hStopXmitEvent);
    CloseAndClear(g_hRecvThread);
    CloseAndClear(g_hXmitThread);
    CloseAndClear(g_hFFTThread);
    UnregisterModuleStrings(g_ExtModule.hModule);
}
