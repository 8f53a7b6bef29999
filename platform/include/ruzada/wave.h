/* The platform's wave driver: the wave-audio calls of Windows (waveIn..., waveOut...)
 * with their header, flag, callback and result-code rules, over one of four backends.
 *
 * Backend choice, made at the first call that needs a device and made again when
 * RUZADA_AUDIODRIVER has changed while no device is open:
 *   RUZADA_AUDIODRIVER=portaudio | loopback | file | null, or a comma-separated
 *   list tried in order. An unknown or unusable name leaves no devices, so every
 *   open answers MMSYSERR_NODRIVER. Without the variable: PortAudio when it offers
 *   a capture and a playback device, else the loopback.
 *   portaudio  real sound cards; device n is PortAudio's n-th capture (waveIn) or
 *              playback (waveOut) device.
 *   loopback   one in-process cable: every byte played on device 0 is captured on
 *              device 0, in order, paced by the clock. A burst of playback reaches
 *              capture after a fixed latency, which absorbs scheduling jitter.
 *   file       capture from the WAV file $RUZADA_AUDIO_IN, playback into the WAV
 *              file $RUZADA_AUDIO_OUT (truncated at each open; complete and valid
 *              whenever playback is closed). Paced by the clock, or as fast as
 *              buffers are queued with RUZADA_AUDIO_PACE=0. Without an input file
 *              capture is silence, and a file that ends goes on as silence; the
 *              file's sample rate must be the one opened (else WAVERR_BADFORMAT).
 *              Without an output file playback is discarded.
 *   null       silence in, nothing out, paced by the clock.
 * Device WAVE_MAPPER (-1) is the backend's default device. Each loopback and file
 * device direction opens once at a time (MMSYSERR_ALLOCATED for a second open).
 *
 * Callbacks (CALLBACK_FUNCTION) run on the device's own driver thread, one at a
 * time, never while the driver holds a lock: WIM_OPEN/WOM_OPEN first, then one
 * WIM_DATA/WOM_DONE per returned header (dwParam1 is the header), in the order
 * the headers were queued, and WIM_CLOSE/WOM_CLOSE last. A callback may call
 * waveInAddBuffer, waveOutWrite and the prepare calls, but not waveInClose or
 * waveOutClose (MMSYSERR_HANDLEBUSY).
 *
 * Reset (waveInReset, waveOutReset) stops the device's work on every queued
 * header and returns them all: when it returns, each is marked WHDR_DONE and no
 * longer WHDR_INQUEUE, and the driver no longer touches their data; their
 * callbacks follow on the driver thread. Close waits for the driver thread to
 * deliver the remaining callbacks and end: never close while holding a lock that
 * the callback takes.
 *
 * A device that fails while running (a sound server that went away, a stalled
 * device, a full disk) is lost: it goes on as a "zombie", capture delivering
 * silence and playback discarding, both paced by the clock, with its buffers
 * returned through the callback as before, so the threads above keep running.
 * The backend's reason is kept for GetWaveFailure; IsWaveDeviceLost tells a host.
 * A lost device stays lost until it is closed. The next open after a loss, once
 * every device is closed, looks for the backend's devices anew (a sound server
 * that came back); until a device opens on the backend again, an open that the
 * backend cannot serve gives a device that is lost from the start, not an error.
 *
 * Nothing is allocated by the calls on an open device. */
#ifndef RUZADA_WAVE_H
#define RUZADA_WAVE_H

#include "wintypes.h"

typedef uintptr_t DWORD_PTR;
typedef struct RZWaveIn* HWAVEIN;
typedef struct RZWaveOut* HWAVEOUT;

/* ---- result codes (Windows values) ---- */
#define MMSYSERR_NOERROR 0u
#define MMSYSERR_ERROR 1u       /* the backend failed for a reason of its own */
#define MMSYSERR_BADDEVICEID 2u /* no such device */
#define MMSYSERR_NOTENABLED 3u
#define MMSYSERR_ALLOCATED 4u   /* the device is already open */
#define MMSYSERR_INVALHANDLE 5u /* unknown or closed handle */
#define MMSYSERR_NODRIVER 6u    /* no backend could be chosen */
#define MMSYSERR_NOMEM 7u
#define MMSYSERR_NOTSUPPORTED 8u /* a callback type other than CALLBACK_NULL or CALLBACK_FUNCTION */
#define MMSYSERR_INVALFLAG 10u   /* open flags beyond the callback type */
#define MMSYSERR_INVALPARAM 11u  /* null pointer, wrong header size, header without data */
#define MMSYSERR_HANDLEBUSY 12u  /* close called from the device's own callback */
#define WAVERR_BADFORMAT 32u     /* format not PCM 8/16-bit, 1-2 channels, consistent */
#define WAVERR_STILLPLAYING 33u  /* header still queued, or close with headers queued */
#define WAVERR_UNPREPARED 34u    /* header queued without being prepared */

/* ---- format ---- */
#define WAVE_FORMAT_PCM 1u
#define WAVE_MAPPER ((UINT)-1)

/* 18 bytes, packed, as on Windows. Accepted: PCM, 1 or 2 channels, 8 (unsigned)
 * or 16 (signed) bits, nBlockAlign = channels * bits / 8, nAvgBytesPerSec =
 * nSamplesPerSec * nBlockAlign, 1000 to 192000 samples per second. */
typedef struct WAVEFORMATEX {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize;
} __attribute__((packed)) WAVEFORMATEX;

#ifdef __cplusplus
static_assert(sizeof(WAVEFORMATEX) == 18, "WAVEFORMATEX is 18 bytes");
#else
_Static_assert(sizeof(WAVEFORMATEX) == 18, "WAVEFORMATEX is 18 bytes");
#endif

/* ---- buffers ---- */
#define WHDR_DONE 0x00000001u /* the driver has returned the buffer */
#define WHDR_PREPARED 0x00000002u
#define WHDR_BEGINLOOP 0x00000004u /* accepted, not acted on */
#define WHDR_ENDLOOP 0x00000008u   /* accepted, not acted on */
#define WHDR_INQUEUE 0x00000010u   /* queued with the driver */

/* Storage is the caller's. While WHDR_INQUEUE is set the driver owns lpData,
 * dwBytesRecorded, dwFlags and lpNext; dwUser is never touched by the driver. */
typedef struct WAVEHDR {
    char* lpData;
    DWORD dwBufferLength;
    DWORD dwBytesRecorded;
    DWORD_PTR dwUser;
    DWORD dwFlags;
    DWORD dwLoops;
    struct WAVEHDR* lpNext;
    DWORD_PTR reserved;
} WAVEHDR;

/* ---- callbacks ---- */
#define CALLBACK_NULL 0x00000000u
#define CALLBACK_FUNCTION 0x00030000u
#define CALLBACK_TYPEMASK 0x00070000u

#define WOM_OPEN 0x3BBu
#define WOM_CLOSE 0x3BCu
#define WOM_DONE 0x3BDu
#define WIM_OPEN 0x3BEu
#define WIM_CLOSE 0x3BFu
#define WIM_DATA 0x3C0u

/* Passed to the open calls as dwCallback. `device` is the HWAVEIN or HWAVEOUT. */
typedef void (*WAVECALLBACK)(void* device, UINT message, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR param2);

/* ---- position ---- */
#define TIME_MS 0x0001u
#define TIME_SAMPLES 0x0002u
#define TIME_BYTES 0x0004u
#define TIME_SMPTE 0x0008u
#define TIME_MIDI 0x0010u
#define TIME_TICKS 0x0020u

/* 12 bytes, as on Windows: wType says which member of u holds the time. */
typedef struct MMTIME {
    UINT wType;
    union {
        DWORD ms;
        DWORD sample;
        DWORD cb;
        DWORD ticks;
        struct {
            BYTE hour, min, sec, frame, fps, dummy;
            BYTE pad[2];
        } smpte;
        struct {
            DWORD songptrpos;
        } midi;
    } u;
} MMTIME;

#ifdef __cplusplus
static_assert(sizeof(MMTIME) == 12, "MMTIME is 12 bytes");
#else
_Static_assert(sizeof(MMTIME) == 12, "MMTIME is 12 bytes");
#endif

/* ---- capture ---- */
RZ_PLATFORM_API UINT waveInGetNumDevs(void);
RZ_PLATFORM_API MMRESULT waveInOpen(HWAVEIN* device, UINT deviceId, const WAVEFORMATEX* format, DWORD_PTR callback,
                                    DWORD_PTR instance, DWORD flags);
RZ_PLATFORM_API MMRESULT waveInClose(HWAVEIN device);
RZ_PLATFORM_API MMRESULT waveInPrepareHeader(HWAVEIN device, WAVEHDR* header, UINT headerSize);
RZ_PLATFORM_API MMRESULT waveInUnprepareHeader(HWAVEIN device, WAVEHDR* header, UINT headerSize);
/* Queues an empty buffer; the driver fills it to dwBufferLength (whole frames) and
 * returns it with dwBytesRecorded set. */
RZ_PLATFORM_API MMRESULT waveInAddBuffer(HWAVEIN device, WAVEHDR* header, UINT headerSize);
/* Capture runs between start and stop or reset; while it runs with no buffer
 * queued, the device's audio is lost. Stop returns the buffer being filled. */
RZ_PLATFORM_API MMRESULT waveInStart(HWAVEIN device);
RZ_PLATFORM_API MMRESULT waveInStop(HWAVEIN device);
RZ_PLATFORM_API MMRESULT waveInReset(HWAVEIN device);
/* How much audio the device has captured since it opened or was last reset: the
 * frames in the buffers it has returned (counted before their WIM_DATA, the
 * buffer that a stop returns included). See waveOutGetPosition for the rest. */
RZ_PLATFORM_API MMRESULT waveInGetPosition(HWAVEIN device, MMTIME* time, UINT timeSize);

/* ---- playback ---- */
RZ_PLATFORM_API UINT waveOutGetNumDevs(void);
/* The device opens playing: buffers go out as soon as they are written. */
RZ_PLATFORM_API MMRESULT waveOutOpen(HWAVEOUT* device, UINT deviceId, const WAVEFORMATEX* format, DWORD_PTR callback,
                                     DWORD_PTR instance, DWORD flags);
RZ_PLATFORM_API MMRESULT waveOutClose(HWAVEOUT device);
RZ_PLATFORM_API MMRESULT waveOutPrepareHeader(HWAVEOUT device, WAVEHDR* header, UINT headerSize);
RZ_PLATFORM_API MMRESULT waveOutUnprepareHeader(HWAVEOUT device, WAVEHDR* header, UINT headerSize);
/* Queues a buffer to play; it comes back through WOM_DONE once played. */
RZ_PLATFORM_API MMRESULT waveOutWrite(HWAVEOUT device, WAVEHDR* header, UINT headerSize);
/* Pause holds playback where it is; restart resumes it. Reset leaves the pause
 * state as it was. */
RZ_PLATFORM_API MMRESULT waveOutPause(HWAVEOUT device);
RZ_PLATFORM_API MMRESULT waveOutRestart(HWAVEOUT device);
RZ_PLATFORM_API MMRESULT waveOutReset(HWAVEOUT device);
/* How much audio the device has played since it opened or was last reset: the
 * frames of the buffers it has played to their end (counted before their
 * WOM_DONE; a buffer that a reset returns does not count). Asked in TIME_SAMPLES
 * the answer is in frames; any other wType is answered in TIME_BYTES, with wType
 * changed to say so. The count is a DWORD and wraps as one. MMSYSERR_INVALPARAM
 * for a null time or a timeSize below sizeof(MMTIME), MMSYSERR_INVALHANDLE for
 * an unknown or closed handle. Any thread may ask, the callback included. */
RZ_PLATFORM_API MMRESULT waveOutGetPosition(HWAVEOUT device, MMTIME* time, UINT timeSize);

/* ---- for the host program ---- */
/* The backend in use ("portaudio", "loopback", "file", "null"), choosing it if
 * none is chosen yet; "" when none could be chosen. Copies at most size-1
 * characters and returns the full length. */
RZ_PLATFORM_API UINT GetWaveDriverName(char* buffer, UINT size);
/* A device's name, as GetWaveDriverName copies it; MMSYSERR_BADDEVICEID for a
 * device that does not exist, MMSYSERR_INVALPARAM for a null buffer. */
RZ_PLATFORM_API MMRESULT GetWaveInDeviceName(UINT deviceId, char* buffer, UINT size);
RZ_PLATFORM_API MMRESULT GetWaveOutDeviceName(UINT deviceId, char* buffer, UINT size);
/* The backend's reason for the latest failed open or mid-stream failure, once:
 * TRUE with the text, then FALSE until the next failure. */
RZ_PLATFORM_API BOOL GetWaveFailure(char* buffer, UINT size);
/* TRUE while an open device, capture or playback, is lost (see above) and runs
 * on as silence paced by the clock; FALSE otherwise. A host that sees it closes
 * its devices and opens them again, now or a little later: they open on the
 * backend's device once it is back, and the answer is FALSE again. */
RZ_PLATFORM_API BOOL IsWaveDeviceLost(void);
/* The position, in frames as TIME_SAMPLES gives it, of the capture or playback
 * device opened last of those still open, whoever opened it: a host holds no
 * handle of the module's, yet learns how far the module's audio has got. FALSE,
 * with *samples untouched, when no device of that direction is open or samples
 * is null. */
RZ_PLATFORM_API BOOL GetOpenWaveInPosition(DWORD* samples);
RZ_PLATFORM_API BOOL GetOpenWaveOutPosition(DWORD* samples);
/* The audio written to that playback device which has not yet left it, in
 * frames: its queued buffers not yet played, and what the backend still holds
 * beyond them (its own buffering, and the output latency the sound system
 * reports for the last audio handed to it). A host unkeys a transmitter once this
 * is 0. FALSE, with *frames untouched, when no playback device is open or frames
 * is null. */
RZ_PLATFORM_API BOOL GetOpenWaveOutPending(DWORD* frames);

#endif
