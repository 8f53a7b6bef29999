#include "core/Globals.h"

std::atomic<HWND> g_hwndHost{nullptr};
std::atomic<CSound*> g_pSound{nullptr};
std::atomic<uint64_t> g_qwCurrentMode{0};
std::atomic<uint64_t> g_qwAvailableModes{0};
// Set from load until InitDG, so the worker threads do no codec work before the
// host has bound its window.
std::atomic<uint8_t> g_bModeBusy{1};
std::atomic<DWORD> g_dwSoundMode{0};
std::atomic<BOOL> g_bNoSoundCard{0};
std::atomic<BOOL> g_bNoSoundOutput{0};
std::atomic<BOOL> g_bNoSoundInput{0};
std::atomic<HMODULE> g_hModeLib{nullptr};
char g_szModuleDir[MAX_PATH] = {};
uint64_t g_qwCpuHz = 0;
DWORD g_dwCpuSpeed = 0;
std::atomic<bool> g_bUse48KHz{false};
std::atomic<bool> g_bUseFFT{false};
std::atomic<bool> g_bSlowFFT{false};
std::atomic<BOOL> g_bRunning{0};
std::atomic<BOOL> g_bRecvThreadAlive{0};
std::atomic<BOOL> g_bXmitThreadAlive{0};
std::atomic<BOOL> g_bFFTThreadAlive{0};
HANDLE g_hRecvThread = nullptr;
HANDLE g_hXmitThread = nullptr;
std::atomic<HANDLE> g_hXmitEvent{nullptr};
HANDLE g_hStopRecvEvent = nullptr;
HANDLE g_hStopXmitEvent = nullptr;
CRITICAL_SECTION g_csSendQueue{};
CRITICAL_SECTION g_csMode{};
CRITICAL_SECTION g_csSound{};
std::atomic<BOOL> g_bXmitPosted{0};
std::atomic<BOOL> g_bRecvPosted{0};
std::atomic<uint8_t> g_bEncoding{0};
