/* The contract between the mode module and a mode snap-in.
 *
 * A snap-in is a shared library named DG*.so that lies beside RUZada.so (names
 * beginning with "ruzada", in any case, are never loaded). It must export
 * GetDGSetup; every other function below is optional and looked up by name.
 *
 * Samples are signed 16-bit mono PCM at 8000 samples per second in both
 * directions; the module converts to and from 48000 itself. Counts returned by
 * the codec functions must stay within the capacity passed: the module clamps a
 * larger count to that capacity. Codec calls (GetDGTwiddle, the encoders, the
 * decoders) never overlap each other or a mode change; HasDGData, GetDGToolbar,
 * DoDGCommand and the invoke functions run on host threads and may overlap them. */
#ifndef RUZADA_DGSNAPIN_H
#define RUZADA_DGSNAPIN_H

#include <stdint.h>
#ifndef __cplusplus
#include <uchar.h>
#endif

#include <ruzada/wintypes.h>

#ifdef __cplusplus
#define DG_SNAPIN_EXPORT extern "C" __attribute__((visibility("default")))
#else
#define DG_SNAPIN_EXPORT __attribute__((visibility("default")))
#endif

/* 544 bytes, little-endian, shared byte for byte with every snap-in. The module
 * zeroes it and sets cbSize to 544 before GetDGSetup fills it. */
typedef struct DGSETUP {
    uint32_t cbSize;           /* 0: 544 */
    char16_t szName[256];      /* 4: display name, zero-terminated UTF-16 */
    uint32_t dwReserved1;      /* 516 */
    uint64_t qwMode;           /* 520: the mode's mask */
    BOOL bNoSoundCard;         /* 528: uses no sound card at all */
    BOOL bNoSoundOutput;       /* 532: plays nothing */
    BOOL bNoSoundInput;        /* 536: takes no sound input; its decoder is polled */
    uint32_t dwReserved2;      /* 540 */
} __attribute__((packed, aligned(4))) DGSETUP;

#define DGSETUP_SIZE 544u
#define DG_ENCODE_CAPACITY 89999
#define DG_DECODE_CAPACITY 64
#define DG_MAX_BATCH 19

typedef void (*PFN_GetDGSetup)(DGSETUP* setup);
typedef void (*PFN_InitRUZada)(double sampleRate);
typedef int32_t (*PFN_GetDGInternalFrequency)(void);
typedef int (*PFN_GetDGTwiddle)(int16_t* samples, int wanted);
typedef int (*PFN_HasDGData)(void);
typedef int (*PFN_EncodeDGDataA)(int16_t* samples, int capacity, const char* chars, int count);
typedef int (*PFN_DecodeDGDataA)(const int16_t* samples, int count, char* chars, int capacity);
typedef int (*PFN_EncodeDGDataW)(int16_t* samples, int capacity, const char16_t* chars, int count);
typedef int (*PFN_DecodeDGDataW)(const int16_t* samples, int count, char16_t* chars, int capacity);
typedef uint32_t (*PFN_GetDGToolbar)(uint32_t a, uint32_t b, uint32_t c);
typedef uint32_t (*PFN_DoDGCommand)(uint32_t command);
typedef void (*PFN_LoadDGUserData)(void);
typedef void (*PFN_SaveDGUserData)(void);
/* Exported as "InvokeDGFunc%d" with the function number. */
typedef int (*PFN_InvokeDGFunc)(HWND host, uint32_t a, uint32_t b);
typedef int (*PFN_InvokeDGSetup)(HWND host);

#endif
