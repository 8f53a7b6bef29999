/* Virtual serial ports: in-process devices for tests and demonstrations, opened as
 * COM n when RUZADA_COM<n> is "virtual:<name>". This header is their far end: it
 * feeds bytes and breaks in, takes what the port sent, hangs the device up, and
 * reads back every RTS, DTR and break change with its time.
 *
 * A port exists from VirtualPortCreate until VirtualPortHangUp or
 * VirtualPortDestroy; opening a name that does not exist fails with
 * ERROR_FILE_NOT_FOUND. Its output queue holds 4096 bytes: what the port writes
 * waits there until the far end drains it, as bytes wait in a UART until the line
 * has sent them, and a writer finding the queue full waits for room. With
 * RTS_CONTROL_TOGGLE the port raises RTS when output enters the empty queue and
 * drops it when the queue has been drained.
 *
 * Every function takes the port's name without the "virtual:" prefix and answers
 * FALSE (or 0) with ERROR_FILE_NOT_FOUND for a name that does not exist. */
#ifndef RUZADA_VIRTUALPORT_H
#define RUZADA_VIRTUALPORT_H

#include <stddef.h>

#include "wintypes.h"

#define VIRTUAL_LINE_RTS 1u
#define VIRTUAL_LINE_DTR 2u
#define VIRTUAL_LINE_BREAK 3u

typedef struct VirtualLineChange {
    UINT line;    /* VIRTUAL_LINE_RTS, _DTR or _BREAK */
    BOOL raised;  /* RTS or DTR raised, break set */
    int64_t time; /* QueryPerformanceCounter units (nanoseconds) */
} VirtualLineChange;

/* Makes an empty port with RTS, DTR and break low and no changes recorded.
 * FALSE with ERROR_ALREADY_ASSIGNED if the name exists. */
RZ_PLATFORM_API BOOL VirtualPortCreate(const char* name);
/* Removes the port; a device still open on it sees it vanish. */
RZ_PLATFORM_API BOOL VirtualPortDestroy(const char* name);
/* The device vanishes as an unplugged adapter does: the open device answers
 * ERROR_INVALID_HANDLE from then on, and the name no longer opens. The record of
 * line changes stays readable until VirtualPortDestroy. */
RZ_PLATFORM_API BOOL VirtualPortHangUp(const char* name);

/* Bytes arriving from the line. */
RZ_PLATFORM_API BOOL VirtualPortFeed(const char* name, const void* data, size_t size);
/* A break condition arriving from the line. */
RZ_PLATFORM_API BOOL VirtualPortSendBreak(const char* name);

/* Takes up to `size` bytes that the port sent, oldest first; `buffer` may be null
 * to drop them. Returns the number taken. */
RZ_PLATFORM_API size_t VirtualPortDrain(const char* name, void* buffer, size_t size);
/* Bytes the port has written that the far end has not drained. */
RZ_PLATFORM_API size_t VirtualPortPending(const char* name);
/* TRUE while a device is open on the port. */
RZ_PLATFORM_API BOOL VirtualPortIsOpen(const char* name);

/* Copies up to `capacity` recorded line changes, oldest first, and returns how
 * many have been recorded in all (which may exceed `capacity`). Each call of a
 * line control is recorded, also when the line already had that level. */
RZ_PLATFORM_API size_t VirtualPortLineChanges(const char* name, VirtualLineChange* changes, size_t capacity);
#endif
