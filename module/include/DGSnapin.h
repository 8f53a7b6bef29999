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
    uint32_t cbSize;      /* 0: 544 */
    char16_t szName[256]; /* 4: display name, zero-terminated UTF-16 */
    uint32_t dwReserved1; /* 516 */
    uint64_t qwMode;      /* 520: the mode's mask */
    BOOL bNoSoundCard;    /* 528: uses no sound card at all */
    BOOL bNoSoundOutput;  /* 532: plays nothing */
    BOOL bNoSoundInput;   /* 536: takes no sound input; its decoder is polled */
    uint32_t dwReserved2; /* 540 */
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

/* ---- Run-time control ------------------------------------------------------
 *
 * A host tunes the current mode through two exports it already has, with
 * 32-bit integers only:
 *
 *   read   InvokeDGCommand(DG_CONTROL_READ | key)
 *            reaches the current mode's DoDGCommand, which answers the key's
 *            value (read the 32-bit result as signed), or DG_CONTROL_NONE for
 *            a key the mode does not have. The module answers 0 when the
 *            current mode has no DoDGCommand, so a host asks for
 *            DG_KEY_CONTROL first: a snap-in that follows this convention
 *            answers DG_CONTROL_VERSION.
 *   write  InvokeRUZadaFunc(mask, DG_CONTROL_FUNC, key, value)
 *            reaches InvokeDGFunc20(host, key, value) of the snap-in with that
 *            mask, which answers 1 when it took the value (clamped to what the
 *            mode can do: read it back to see what is in effect) and 0 for an
 *            unknown or read-only key or a value it refuses. The module answers
 *            2 when no snap-in with that mask exports the function.
 *
 * Writes reach the library that the current mode has loaded, so they change
 * the running mode; a write to a mode that is not current reaches a copy that
 * is unloaded at once, and is lost. Selecting a mode (InitRUZada) starts it
 * again from the settings file. Reads and writes may come from any host thread
 * while the codec runs: a write takes effect at the codec's next call.
 * Frequencies are in tenths of a hertz, flags are 0 or 1. */
#define DG_CONTROL_FUNC 20
#define DG_CONTROL_READ 0x44470000u /* "DG" in the high half, the key in the low half */
#define DG_CONTROL_KEY_MASK 0x0000FFFFu
#define DG_CONTROL_NONE ((int32_t)0x80000000)
#define DG_CONTROL_VERSION 1

enum DGControlKey {
    DG_KEY_CONTROL = 0,           /* read only: DG_CONTROL_VERSION */
    DG_KEY_CARRIER = 1,           /* centre of the signal (RTTY: midway between mark and space) */
    DG_KEY_AFC = 2,               /* the receiver follows the signal's frequency */
    DG_KEY_REVERSE = 3,           /* RTTY: mark below space; QPSK: lower sideband */
    DG_KEY_SUBMODE = 4,           /* the mode's own variant; PSK: DG_PSK_* below */
    DG_KEY_BAUD = 5,              /* symbol rate in hundredths of a baud (RTTY 4545) */
    DG_KEY_SHIFT = 6,             /* RTTY: hertz between mark and space */
    DG_KEY_TRACKED = 7,           /* read only: the centre the receiver follows now */
    DG_KEY_QUALITY = 8,           /* read only: signal quality, 0 (none) to 100 */
    DG_KEY_SQUELCH = 9,           /* quality, 0 to 100, below which nothing is printed */
    DG_KEY_WPM = 10,              /* CW: sending speed, words per minute */
    DG_KEY_FARNSWORTH = 11,       /* CW: speed of the spacing, words per minute; 0 off */
    DG_KEY_RX_WPM = 12,           /* CW, read only: the speed the receiver hears */
    DG_KEY_STOP_BITS = 13,        /* RTTY: stop length in half bits (2, 3 or 4) */
    DG_KEY_UNSHIFT_ON_SPACE = 14, /* RTTY receiver: a space returns to letters */
    DG_KEY_IDLE = 15              /* 1: the mode's idle signal while transmitting with nothing to send;
                                     0: the audio ends with the last character and the mode's tail
                                     (for VOX keying and for recordings) */
};

enum DGPskSubmode { DG_PSK_BPSK31 = 0, DG_PSK_BPSK63 = 1, DG_PSK_BPSK125 = 2, DG_PSK_QPSK31 = 3, DG_PSK_QPSK63 = 4 };

#endif
