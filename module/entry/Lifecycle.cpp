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
#include "entry/StopWorkers.h"
#include "modes/ModeList.h"
#include "res/Strings.h"
#include "serial/ComPortList.h"
#include "spectrum/FFTThread.h"

namespace {

void StoreModuleDir(HMODULE self)
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(self, path, MAX_PATH);
    if (char* slash = std::strrchr(path, '/'))
        *slash = '\0';
    std::memcpy(g_szModuleDir, path, sizeof g_szModuleDir);
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
    g_hXmitThread = StartWorker(XmitThreadProc, "XMIT", kXmitThreadStackBytes);
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

    // Whatever a stuck worker is still inside belongs to a snap-in, which the
    // platform keeps loaded: everything of the module's own goes.
    StopWorkers();

    if (CSound* sound = g_pSound.exchange(nullptr)) {
        if (sound->IsInOpen())
            sound->CloseIn();
        if (sound->IsOutOpen())
            sound->CloseOut();
        delete sound;
    }

    for (CModeRecord* record : records)
        delete record;

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
