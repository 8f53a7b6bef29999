/* Fixed-width stand-ins for the Windows types that the module's interfaces are
 * written in. Widths follow the 32-bit Windows ABI the interfaces come from, so
 * values cross the host link exactly as a Windows host would see them. */
#ifndef RUZADA_WINTYPES_H
#define RUZADA_WINTYPES_H

#include <stdint.h>

#ifdef __cplusplus
#define RZ_EXTERN_C extern "C"
#else
#define RZ_EXTERN_C
#endif

#define RZ_PLATFORM_API RZ_EXTERN_C __attribute__((visibility("default")))

typedef int32_t BOOL;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef uint32_t UINT;
typedef uint32_t WPARAM;
typedef int32_t LPARAM;
typedef int32_t LRESULT;
typedef uint32_t MMRESULT;

/* Opaque handles. A HANDLE names a kernel object of the platform (event, thread,
 * device); a closed or unknown handle is answered with ERROR_INVALID_HANDLE, never
 * a crash. */
typedef void* HANDLE;
typedef struct RZHostWindow* HWND;
typedef struct RZModule* HMODULE;
typedef HMODULE HINSTANCE;
typedef void* HLOCAL;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#define INFINITE 0xFFFFFFFFu

#endif
