/* RUZada.so: the mode module's exports, for host programs.
 *
 * Load it with dlopen beside libruzada_platform.so, bind a window made with
 * CreateHostWindow (ruzada/hostlink.h) through InitDG, and handle the registered
 * messages "DG_CHAR", "DG_SENTCHAR", "DG_RAWDATA", "DG_XMITRECV" and
 * "DG_REQUESTCOM" ("DG_VU" is registered but never sent) in that window.
 * No export throws; each answers its fixed failure value. */
#ifndef RUZADA_H
#define RUZADA_H

#include <stdint.h>
#ifndef __cplusplus
#include <uchar.h>
#endif

#include <ruzada/wintypes.h>

#ifdef __cplusplus
class CCOMPort;
#define RUZADA_API extern "C" __attribute__((visibility("default")))
#else
typedef struct CCOMPort CCOMPort;
#define RUZADA_API __attribute__((visibility("default")))
#endif

/* Interface version returned by GetDGVersion. */
#define RUZADA_VERSION 0xEB930003u

/* ---- lifecycle and host messages ---- */
RUZADA_API uint64_t InitDG(HWND host);
RUZADA_API BOOL DGSetRecv(BOOL on);
RUZADA_API BOOL DGSetXmit(BOOL on);
RUZADA_API LRESULT DGRequestComPort(void);

/* ---- settings and machine profile ---- */
RUZADA_API void DGRefreshSettings(void);
RUZADA_API DWORD GetDGVersion(void);
RUZADA_API DWORD GetDGProcessorSpeedKHz(void);
RUZADA_API DWORD GetDGSoundCount(void);

/* ---- modes ---- */
RUZADA_API uint64_t EnumRUZadas(void);
RUZADA_API uint64_t SetRUZada(uint64_t mode);
RUZADA_API uint64_t GetRUZada(void);
RUZADA_API void GetRUZadaNameW(uint64_t mode, char16_t* buffer, UINT len);
RUZADA_API void GetRUZadaNameA(uint64_t mode, char* buffer, UINT len);
RUZADA_API void GetRUZadaFileNameW(uint64_t mode, char16_t* buffer, UINT len);
RUZADA_API void GetRUZadaFileNameA(uint64_t mode, char* buffer, UINT len);
RUZADA_API int InvokeRUZadaFunc(uint64_t mode, int function, uint32_t a, uint32_t b);
RUZADA_API int InvokeRUZadaSetup(uint64_t mode);
RUZADA_API uint32_t GetDGToolbarWnd(uint32_t a, uint32_t b, uint32_t c);
RUZADA_API uint32_t InvokeDGCommand(uint32_t command);

/* ---- sending ---- */
RUZADA_API void SendDGCharW(WORD ch);
RUZADA_API void SendDGCharA(char ch);
RUZADA_API int IsDGSendIdle(void);

/* ---- sound card ---- */
RUZADA_API int SetDGFreq(double freq);
RUZADA_API double GetDGFreq(void);
/* mode: bit 0 transmit, bit 1 receive; device -1 is the default device. */
RUZADA_API void SetDGSoundMode(int mode, int device);

/* ---- level and squelch ---- */
RUZADA_API double GetDGLevel(void);
RUZADA_API void SetDGSquelch(double level);
RUZADA_API double GetDGSquelch(void);

/* ---- spectrum ---- */
RUZADA_API int GetDGFFTData(int32_t* data, int maxBin, int firstBin, int lastBin);

/* ---- serial ports ---- */
RUZADA_API CCOMPort* DGOpenComPort(int port, int parity, int stopBits, int byteSize, uint32_t baudRate);
RUZADA_API void DGCloseComPort(CCOMPort* port);
RUZADA_API int DGReadComPort(CCOMPort* port, unsigned char* buffer, int capacity);
RUZADA_API void DGWriteComPort(CCOMPort* port, const unsigned char* data, int count);
RUZADA_API void DGEnablePortRTS(CCOMPort* port, BOOL enable);
RUZADA_API void DGSetRTS(CCOMPort* port, BOOL on);

#endif
