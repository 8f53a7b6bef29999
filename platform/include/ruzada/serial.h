/* Communications devices: the serial-port calls that the module's COM port object
 * is written against, provided on termios and on in-process virtual ports.
 *
 * Names and values follow Windows where Windows has them (CreateFileA on
 * "\\.\COMn", DCB with GetCommState/SetCommState, SetCommMask, PurgeComm,
 * EscapeCommFunction, SetCommBreak/ClearCommBreak, ClearCommError, and CloseHandle
 * from kernel.h). Input and output are not overlapped: the three calls that can
 * wait (WaitCommEvents, WriteComm) take the caller's stop event and wait on poll
 * together with it, and ReadComm never waits. Driver queue sizes (SetupComm) and
 * read time-outs (SetCommTimeouts) have no counterpart: each direction buffers
 * 4096 bytes, and waiting is WaitCommEvents' job.
 *
 * COM n is the device that the environment variable RUZADA_COM<n> names, looked
 * up at each open, else /dev/ttyS<n-1>. A value "virtual:<name>" opens the
 * in-process port of that name (ruzada/virtualport.h); anything else is a path to
 * a terminal device, set to raw mode when opened.
 *
 * A device that has vanished (hung up, unplugged, its virtual far end hung up)
 * answers every call with ERROR_INVALID_HANDLE (6), as a closed handle does,
 * once the bytes it received before have been read. CloseHandle ends the calls
 * still waiting on the port in other threads the same way.
 * Failing calls return FALSE (or WAIT_FAILED) and set the thread's last error. */
#ifndef RUZADA_SERIAL_H
#define RUZADA_SERIAL_H

#include "kernel.h"

/* ---- opening ------------------------------------------------------------------ */
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define OPEN_EXISTING 3u

/* Opens communications devices only: `name` is "\\.\COMn" with n >= 1, `creation`
 * OPEN_EXISTING and `share` 0 (a port has one user at a time: a second open fails
 * with ERROR_ACCESS_DENIED). `access`, `security`, the attribute flags and
 * `templateFile` are not used. Fails with INVALID_HANDLE_VALUE and
 * ERROR_FILE_NOT_FOUND for a missing device or a path that is not a terminal,
 * ERROR_ACCESS_DENIED for a port in use or without permission, and the code of
 * the errno otherwise. The port starts with every line-event mask bit clear. */
RZ_PLATFORM_API HANDLE CreateFileA(const char* name, DWORD access, DWORD share, void* security, DWORD creation,
                                   DWORD flagsAndAttributes, HANDLE templateFile);

/* ---- line settings ------------------------------------------------------------ */
#define NOPARITY 0
#define ODDPARITY 1
#define EVENPARITY 2
#define MARKPARITY 3
#define SPACEPARITY 4
#define ONESTOPBIT 0
#define ONE5STOPBITS 1
#define TWOSTOPBITS 2
#define DTR_CONTROL_DISABLE 0
#define DTR_CONTROL_ENABLE 1
#define DTR_CONTROL_HANDSHAKE 2
#define RTS_CONTROL_DISABLE 0
#define RTS_CONTROL_ENABLE 1
#define RTS_CONTROL_HANDSHAKE 2
#define RTS_CONTROL_TOGGLE 3

/* The settings the module uses. DSR flow control, DSR sensitivity and error-
 * character replacement have no termios counterpart; a device here never does
 * them.
 * - BaudRate: any whole rate, set through termios2 BOTHER. The 45.45-baud
 *   teleprinter rate is asked for as 45, as a Windows DCB (also a whole number)
 *   asks for it; the UART divides its clock to the nearest rate it can make.
 * - ByteSize 5 to 8. ONE5STOPBITS is what CSTOPB gives with 5 data bits.
 * - fParity: parity errors are checked; a character that arrives with a parity
 *   or framing error is still delivered, and ClearCommError reports it.
 * - fDtrControl: DISABLE drops DTR, ENABLE raises it; HANDSHAKE raises it too
 *   (termios has no DTR input flow control).
 * - fRtsControl: DISABLE drops RTS, ENABLE raises it, HANDSHAKE is RTS/CTS flow
 *   control (as fOutxCtsFlow), TOGGLE raises RTS while the device transmits
 *   (RS-485 RTS-on-send where the driver offers it; virtual ports do it).
 *   A device without modem-control lines (a pseudo-terminal) takes the other
 *   settings and ignores the line controls.
 * - fNull: kept and reported, and no byte is discarded for it. A Windows driver
 *   drops every received 0x00 with it, to keep the NULs that a line break leaves
 *   in the data stream out; here a break never enters the data (it is reported
 *   as a break event and by ClearCommError), so a 0x00 is always a real byte.
 * - XonLim and XoffLim are kept and reported; termios has no such thresholds.
 * SetCommState fails with ERROR_INVALID_PARAMETER for a DCBlength other than
 * sizeof(DCB) or a value out of the ranges above, changing nothing. */
typedef struct DCB {
    DWORD DCBlength;
    DWORD BaudRate;
    DWORD fBinary : 1;
    DWORD fParity : 1;
    DWORD fOutxCtsFlow : 1;
    DWORD fDtrControl : 2;
    DWORD fOutX : 1;
    DWORD fInX : 1;
    DWORD fNull : 1;
    DWORD fRtsControl : 2;
    WORD XonLim;
    WORD XoffLim;
    BYTE ByteSize;
    BYTE Parity;
    BYTE StopBits;
    char XonChar;
    char XoffChar;
} DCB;

RZ_PLATFORM_API BOOL GetCommState(HANDLE port, DCB* dcb);
RZ_PLATFORM_API BOOL SetCommState(HANDLE port, const DCB* dcb);

/* ---- line control -------------------------------------------------------------- */
#define SETRTS 3
#define CLRRTS 4
#define SETDTR 5
#define CLRDTR 6

/* One modem-line change per call; ERROR_INVALID_PARAMETER for other functions,
 * ERROR_NOT_SUPPORTED on a device without modem-control lines. */
RZ_PLATFORM_API BOOL EscapeCommFunction(HANDLE port, DWORD function);
/* Holds the transmit line in the break (spacing) state until ClearCommBreak. */
RZ_PLATFORM_API BOOL SetCommBreak(HANDLE port);
RZ_PLATFORM_API BOOL ClearCommBreak(HANDLE port);

#define PURGE_TXABORT 0x0001u
#define PURGE_RXABORT 0x0002u
#define PURGE_TXCLEAR 0x0004u
#define PURGE_RXCLEAR 0x0008u
/* Drops the bytes not yet sent (TX flags) and those received but not read (RX
 * flags). A write under way in another thread keeps waiting for room. */
RZ_PLATFORM_API BOOL PurgeComm(HANDLE port, DWORD flags);

#define CE_RXPARITY 0x0004u
#define CE_BREAK 0x0010u
typedef struct COMSTAT {
    DWORD cbOutQue; /* bytes written but not yet sent on the line */
} COMSTAT;
/* Reports and clears the line errors since the last call (CE_RXPARITY for a
 * character with a parity or framing error, CE_BREAK for a break received) and
 * the output still queued. Either pointer may be null. */
RZ_PLATFORM_API BOOL ClearCommError(HANDLE port, DWORD* errors, COMSTAT* status);

/* ---- events, reading and writing ------------------------------------------------ */
#define EV_RXCHAR 0x0001u
#define EV_TXEMPTY 0x0004u
#define EV_BREAK 0x0040u

/* Selects the events WaitCommEvents reports, and releases a WaitCommEvents under
 * way in another thread (it returns WAIT_OBJECT_0 + 1 with no events). */
RZ_PLATFORM_API BOOL SetCommMask(HANDLE port, DWORD mask);

/* Waits up to `milliseconds` (INFINITE allowed) for an event of the mask or for
 * `stop` (an event handle, may be null) to be signalled. Returns WAIT_OBJECT_0 when
 * `stop` is signalled, WAIT_OBJECT_0 + 1 with `*events` set when the port has
 * something to report, WAIT_TIMEOUT, or WAIT_FAILED with the last error set.
 * EV_RXCHAR holds while received bytes wait to be read; EV_TXEMPTY is reported
 * once each time the output written has all been sent; EV_BREAK once per break
 * received. */
RZ_PLATFORM_API DWORD WaitCommEvents(HANDLE port, HANDLE stop, DWORD milliseconds, DWORD* events);

/* Takes up to `size` received bytes without waiting; `*read` may be 0. */
RZ_PLATFORM_API BOOL ReadComm(HANDLE port, void* buffer, DWORD size, DWORD* read);

/* Hands all `size` bytes to the device, waiting for room while its output queue
 * is full. Fails with ERROR_OPERATION_ABORTED when `stop` (may be null) is
 * signalled first; `*written` tells how many bytes were taken either way. */
RZ_PLATFORM_API BOOL WriteComm(HANDLE port, const void* data, DWORD size, DWORD* written, HANDLE stop);

#endif
