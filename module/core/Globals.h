// Module-wide shared state. Flags that worker threads read without a lock are
// atomics: single aligned loads and stores, as the threads expect.
#pragma once

#include <atomic>
#include <cstdint>

#include <ruzada/hostlink.h>
#include <ruzada/kernel.h>

class CSound;

extern std::atomic<HWND> g_hwndHost;
extern std::atomic<CSound*> g_pSound;
extern std::atomic<uint64_t> g_qwCurrentMode;
extern std::atomic<uint64_t> g_qwAvailableModes;
extern std::atomic<uint8_t> g_bModeBusy;
// The sound mode: kSoundModeTransmit and kSoundModeReceive, either, both or none.
extern std::atomic<DWORD> g_dwSoundMode;
inline constexpr DWORD kSoundModeTransmit = 1;
inline constexpr DWORD kSoundModeReceive = 2;
extern std::atomic<BOOL> g_bNoSoundCard;
extern std::atomic<BOOL> g_bNoSoundOutput;
extern std::atomic<BOOL> g_bNoSoundInput;
extern std::atomic<HMODULE> g_hModeLib;
extern char g_szModuleDir[MAX_PATH];
extern uint64_t g_qwCpuHz;
extern DWORD g_dwCpuSpeed;
extern std::atomic<bool> g_bUse48KHz;
extern std::atomic<bool> g_bUseFFT;
extern std::atomic<bool> g_bSlowFFT;
extern std::atomic<BOOL> g_bRunning;
extern std::atomic<BOOL> g_bRecvThreadAlive;
extern std::atomic<BOOL> g_bXmitThreadAlive;
extern std::atomic<BOOL> g_bFFTThreadAlive;
extern HANDLE g_hRecvThread;
extern HANDLE g_hXmitThread;
extern std::atomic<HANDLE> g_hXmitEvent;
extern HANDLE g_hStopRecvEvent;
extern HANDLE g_hStopXmitEvent;
extern CRITICAL_SECTION g_csSendQueue;
extern CRITICAL_SECTION g_csMode;
extern CRITICAL_SECTION g_csSound;
extern std::atomic<BOOL> g_bXmitPosted;
extern std::atomic<BOOL> g_bRecvPosted;
extern std::atomic<uint8_t> g_bEncoding;
