// CSound, the sound card object: capture into a ring of driver buffers that the
// reader empties in the order the driver filled them, and playback from a byte
// FIFO that the object's own thread feeds into a set of driver buffers.
//
// The module owns one, g_pSound. SetDGFreq opens and closes it, the receive thread
// reads and the transmit thread writes, each holding g_csSound; the driver calls
// back on its own thread. Everything is allocated at open: reading and writing
// allocate nothing.
#pragma once

#include <atomic>
#include <cstdint>

#include <ruzada/kernel.h>
#include <ruzada/wave.h>

#include "base/Export.h"
#include "util/SerialFIFO.h"

// Result codes of the object's own, beside the driver's MMRESULT values.
enum : UINT {
    kSoundNoMemory = 100,     // a data block could not be allocated
    kSoundStartFailed = 107,  // waveInStart failed
    kSoundInClosed = 111,     // ReadIn while capture is closed
    kSoundInOverrun = 112,    // the driver returned a buffer with the ready queue full
    kSoundOutClosed = 114,    // playback not open, or a wait for space abandoned
    kSoundOutTimeout = 116,   // a wait for FIFO space timed out or failed
};

// One capture buffer's bookkeeping; its header's dwUser points here.
struct CSoundInRecord {
    int32_t nState;    // an InState value
    int32_t nIndex;    // the buffer's position, 0..m_nInBuffers-1
    int32_t nReadPos;  // bytes of the recorded data copied out so far
};

class RUZADA_CLASS CSound {
public:
    static constexpr int kMaxInBuffers = 64;
    static constexpr int kMaxOutBuffers = 48;

    // Buffer counts are cut to 1..64 and 1..48.
    explicit CSound(int nInBuffers = kMaxInBuffers, int nOutBuffers = kMaxOutBuffers);
    virtual ~CSound();

    // A copy is a snapshot for inspection: its getters answer what the original's
    // did when it was copied, and it never touches the original's devices, buffers
    // or events (the buffers are not copied). Its device operations answer as on
    // closed devices, and its opens return MMSYSERR_NOTSUPPORTED. Assigning closes
    // the target's own devices first.
    CSound(const CSound& other);
    CSound& operator=(const CSound& other);

    UINT GetError() const;
    int IsInOpen() const;
    int IsOutOpen() const;
    HWAVEIN GetWaveInHandle() const;
    HWAVEOUT GetWaveOutHandle() const;

    // ---- capture ----
    // 0 when capture is open and recording; else the failing driver result, or
    // 100, 11, 7, 107 (allocation, prepare, queueing, start). Opening an open
    // side answers MMSYSERR_ALLOCATED and leaves it as it was.
    UINT OpenIn(const WAVEFORMATEX* format, UINT device);
    void CloseIn();
    // Copies up to `count` samples of the module's mono 16-bit format, oldest
    // first; -1 (error 111) while closed. Stops early once the destination is
    // nearly full, and never returns 0 while audio is ready. Reads and closes are
    // serialised: a read never meets a close.
    int ReadIn(short* dst, int count);

    // ---- playback ----
    // 0 when playback is open, paused, and its thread running.
    UINT OpenOut(const WAVEFORMATEX* format, UINT device);
    void CloseOut();
    // count > 0: queues that many samples, blocking while the FIFO is full, and
    // returns how many it queued. count < 0: waits until played out, returns 0.
    // count 0: waits likewise, returns -1 if an error is kept, else 0.
    // -1 (error 114) while closed.
    int WriteOut(const short* src, int count);
    // Drops everything queued; every header comes back free.
    void FlushOut();
    // Bytes still to play: the FIFO plus a whole buffer per header with the driver.
    int GetOutPending() const;
    BOOL IsOutEmpty() const;
    // Samples that WriteOut would queue now without waiting for room; 0 while closed.
    int GetOutRoom() const;
    // Waits until played out (10 s at most) and returns the kept error.
    UINT DrainOut();
    // 1 to go on writing `bytes` more, 0 to give up.
    int WaitOutSpace(int bytes);

private:
    enum InState : int32_t { kInLost = 0, kInQueued = 1, kInPrepared = 2, kInRecorded = 3, kInReading = 4 };

    static void InCallback(void* device, UINT message, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR param2);
    static void OutCallback(void* device, UINT message, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR param2);
    static DWORD PlaybackThread(void* self);

    bool RequeueIn(WAVEHDR* header, CSoundInRecord* record);
    UINT FailIn(UINT error);
    void PlaybackLoop();
    void RefillOut(WAVEHDR* header);
    // Releases what an open of playback got so far: device, headers, blocks, events.
    void ReleaseOut();
    UINT FailOut(UINT error);
    void CopyValuesFrom(const CSound& other);

    int32_t m_nInBuffers;
    int32_t m_nOutBuffers;
    HANDLE m_hOutDone = nullptr;
    HANDLE m_hOutSpace = nullptr;
    HANDLE m_hOutStop = nullptr;
    std::atomic<int32_t> m_bInOverrun{0};
    std::atomic<int32_t> m_bWaitSpace{0};
    std::atomic<int32_t> m_bWaitDone{0};
    UINT m_nOutTimeUnit = 1000;
    CRITICAL_SECTION m_csIn;
    mutable CRITICAL_SECTION m_csOut;
    CSoundInRecord m_InRecord[kMaxInBuffers];
    WAVEHDR m_InHeader[kMaxInBuffers];
    WAVEHDR m_OutHeader[kMaxOutBuffers];
    int32_t m_InReady[kMaxInBuffers];
    UINT m_nInDevice = WAVE_MAPPER;
    std::atomic<int32_t> m_bInOpen{0};
    std::atomic<int32_t> m_bOutOpen{0};
    std::atomic<UINT> m_nError{0};
    UINT m_nInBufferBytes = 0;
    std::atomic<UINT> m_nOutBufferBytes{0};
    std::atomic<HWAVEIN> m_hWaveIn{nullptr};
    std::atomic<HWAVEOUT> m_hWaveOut{nullptr};
    WAVEFORMATEX m_OutFormat = {};
    WAVEFORMATEX m_InFormat = {};
    CSerialFIFO m_OutFifo;
    int32_t m_nOutHighWater = 0;

    // Taken by every open, read and close of capture, so that none overlaps.
    CRITICAL_SECTION m_csRead;
    HANDLE m_hOutThread = nullptr;
    bool m_bSnapshot = false;
};

// A 32-bit handle value. Assignment copies the value and nothing else: no
// duplication, no closing, no transfer of ownership.
class RUZADA_CLASS CHandle {
public:
    CHandle& operator=(const CHandle& other);

    uint32_t m_hHandle = 0;
};
