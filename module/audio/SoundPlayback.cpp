// CSound: the playback side. A header's dwUser carries its state in the low byte
// (1 free, 0 with the driver or being refilled) and its index in the second byte;
// the driver's callback thread frees headers while the playback thread takes them.
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "audio/Sound.h"
#include "base/ScopedLock.h"

namespace {

constexpr DWORD_PTR kHeaderFree = 1;
constexpr DWORD_PTR kStateMask = 0xFF;
// The playback thread looks at the FIFO this often.
constexpr DWORD kPlaybackPollMs = 5;
// DrainOut waits at least this long, and then 10 s.
constexpr DWORD kShortestDrainMs = 5000;
constexpr DWORD kDrainMs = 10000;
// The FIFO stays this far below its block, so that writes never grow it.
constexpr int kHighWaterMargin = 16;

// Readers that only look (GetOutPending) hold the header const.
std::atomic_ref<DWORD_PTR> State(const WAVEHDR& header)
{
    return std::atomic_ref<DWORD_PTR>(const_cast<DWORD_PTR&>(header.dwUser));
}

void MarkFree(WAVEHDR& header) { State(header).fetch_or(kHeaderFree); }
void MarkInUse(WAVEHDR& header) { State(header).fetch_and(~kStateMask); }
bool IsFree(const WAVEHDR& header) { return (State(header).load() & kStateMask) == kHeaderFree; }

}  // namespace

UINT CSound::OpenOut(const WAVEFORMATEX* format, UINT device)
{
    if (m_bSnapshot)
        return MMSYSERR_NOTSUPPORTED;
    if (m_bOutOpen)
        return m_nError = MMSYSERR_ALLOCATED;
    if (!format)
        return m_nError = MMSYSERR_INVALPARAM;

    m_nOutHighWater = 0;
    m_bWaitSpace = 0;
    m_bWaitDone = 0;
    m_OutFormat = *format;
    const UINT bytesPerSecond = m_OutFormat.nAvgBytesPerSec;
    const UINT bufferBytes = bytesPerSecond / m_nOutBuffers * (m_OutFormat.wBitsPerSample / 8) * m_OutFormat.nChannels;
    m_nOutBufferBytes = bufferBytes;
    // Whole seconds of queued audio first, then tenths of them: the unit is 100 ms
    // per second of audio that all buffers hold.
    m_nOutTimeUnit = bytesPerSecond ? m_nOutBuffers * bufferBytes / bytesPerSecond * 100 : 0;

    m_hOutDone = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    m_hOutSpace = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    m_hOutStop = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    // Without its events the playback thread could neither wait nor stop.
    if (!m_hOutDone || !m_hOutSpace || !m_hOutStop)
        return FailOut(MMSYSERR_NOMEM);

    HWAVEOUT handle = nullptr;
    const MMRESULT opened = waveOutOpen(&handle, device, &m_OutFormat, reinterpret_cast<DWORD_PTR>(&OutCallback),
                                        reinterpret_cast<DWORD_PTR>(this), CALLBACK_FUNCTION);
    m_nError = opened;
    if (opened != MMSYSERR_NOERROR)
        return FailOut(opened);
    m_hWaveOut = handle;
    // Nothing plays before the first write.
    if (const MMRESULT paused = waveOutPause(handle); paused != MMSYSERR_NOERROR)
        return FailOut(paused);

    const int request = 2 * m_nOutBuffers * static_cast<int>(bufferBytes);
    m_OutFifo.reset(request);
    m_nOutHighWater = request - kHighWaterMargin;

    for (int i = 0; i < m_nOutBuffers; ++i) {
        WAVEHDR& header = m_OutHeader[i];
        header.dwBufferLength = bufferBytes;
        header.dwFlags = 0;
        header.dwLoops = 0;
        header.dwUser = static_cast<DWORD_PTR>(i) * 256 + kHeaderFree;
        header.lpData = static_cast<char*>(std::malloc(std::max<UINT>(bufferBytes, 1)));
        if (!header.lpData)
            return FailOut(kSoundNoMemory);
        if (const MMRESULT prepared = waveOutPrepareHeader(handle, &header, sizeof header);
            prepared != MMSYSERR_NOERROR)
            return FailOut(prepared);
    }

    m_bOutOpen = 1;
    m_hOutThread = CreateThread(nullptr, 0, &PlaybackThread, this, 0, nullptr);
    if (!m_hOutThread) {
        m_bOutOpen = 0;
        return FailOut(MMSYSERR_NOMEM);
    }
    return 0;
}

UINT CSound::FailOut(UINT error)
{
    m_nError = error;
    ReleaseOut();
    return error;
}

void CSound::ReleaseOut()
{
    m_OutFifo.empty();
    if (const HWAVEOUT handle = m_hWaveOut) {
        waveOutReset(handle);
        for (int i = 0; i < m_nOutBuffers; ++i) {
            WAVEHDR& header = m_OutHeader[i];
            if (!header.lpData)
                continue;
            if (header.dwFlags & WHDR_PREPARED)
                waveOutUnprepareHeader(handle, &header, sizeof header);
            std::free(header.lpData);
            header.lpData = nullptr;
            header.dwBufferLength = 0;
        }
        waveOutClose(handle);
        m_hWaveOut = nullptr;
    }
    for (HANDLE* event : {&m_hOutDone, &m_hOutSpace, &m_hOutStop}) {
        if (*event)
            CloseHandle(*event);
        *event = nullptr;
    }
}

void CSound::CloseOut()
{
    if (m_bSnapshot || !m_bOutOpen)
        return;
    m_bOutOpen = 0;
    // The thread may be inside a device call: it must have left before the
    // device and the events go.
    SetEvent(m_hOutStop);
    WaitForSingleObject(m_hOutThread, INFINITE);
    CloseHandle(m_hOutThread);
    m_hOutThread = nullptr;
    ReleaseOut();
}

void CSound::OutCallback(void*, UINT message, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR)
{
    if (message != WOM_DONE)
        return;
    CSound* self = reinterpret_cast<CSound*>(instance);
    MarkFree(*reinterpret_cast<WAVEHDR*>(param1));
    if (self->m_bWaitDone.exchange(0))
        SetEvent(self->m_hOutDone);
}

DWORD CSound::PlaybackThread(void* self)
{
    static_cast<CSound*>(self)->PlaybackLoop();
    return 0;
}

void CSound::PlaybackLoop()
{
    const DWORD waitMs = 2 * m_nOutTimeUnit;
    const HANDLE stopOrDone[] = {m_hOutStop, m_hOutDone};
    while (m_bOutOpen) {
        if (WaitForSingleObject(m_hOutStop, kPlaybackPollMs) == WAIT_OBJECT_0)
            return;
        if (m_OutFifo.size() < 1)
            continue;
        bool anyFree = false;
        for (int i = 0; i < m_nOutBuffers && m_OutFifo.size() > 0; ++i) {
            WAVEHDR& header = m_OutHeader[i];
            if (!IsFree(header))
                continue;
            anyFree = true;
            MarkInUse(header);
            RefillOut(&header);
            if (m_bWaitSpace.exchange(0))
                SetEvent(m_hOutSpace);
        }
        if (!anyFree && m_OutFifo.size() > 0) {
            m_bWaitDone = 1;
            // The stop event too, so that a close never waits out a full wait.
            if (WaitForMultipleObjects(2, stopOrDone, FALSE, waitMs) == WAIT_OBJECT_0)
                return;
        }
    }
}

void CSound::RefillOut(WAVEHDR* header)
{
    const int bytes = std::min(m_OutFifo.size(), static_cast<int>(m_nOutBufferBytes)) & ~1;
    if (bytes < 1) {
        MarkFree(*header);
        return;
    }
    const HWAVEOUT handle = m_hWaveOut;
    {
        CScopedLock headers(&m_csOut);
        waveOutUnprepareHeader(handle, header, sizeof *header);
        header->dwBufferLength = m_OutFifo.read(header->lpData, bytes);
        header->dwFlags = 0;
        header->dwLoops = 0;
        if (const MMRESULT prepared = waveOutPrepareHeader(handle, header, sizeof *header);
            prepared != MMSYSERR_NOERROR)
            m_nError = prepared;
    }
    // A buffer the driver refused would never come back.
    if (waveOutWrite(handle, header, sizeof *header) != MMSYSERR_NOERROR)
        MarkFree(*header);
}

int CSound::WriteOut(const short* src, int count)
{
    if (m_bSnapshot || !m_bOutOpen) {
        m_nError = kSoundOutClosed;
        return -1;
    }
    if (count < 1) {
        const UINT error = DrainOut();
        return count == 0 && error ? -1 : 0;
    }
    if (!src)
        return 0;
    const int width = m_OutFormat.wBitsPerSample == 16 ? 2 : 1;
    int done = 0;
    while (done < count && m_bOutOpen) {
        if (!WaitOutSpace(static_cast<int>(m_nOutBufferBytes)))
            break;
        int taken = count - done;
        const int queued = m_OutFifo.size();
        if (width * taken + queued > m_nOutHighWater)
            taken = std::max(0, (m_nOutHighWater - queued) / width);
        // The source advances in 16-bit samples whatever the device's width.
        m_OutFifo.write(reinterpret_cast<const char*>(src + done), width * taken);
        done += taken;
        // Playing from the first chunk on: a writer that waits for room must not
        // wait on a device still paused since its open.
        waveOutRestart(m_hWaveOut);
    }
    return done;
}

int CSound::WaitOutSpace(int bytes)
{
    if (m_bSnapshot)
        return 0;
    const DWORD waitMs = 2 * m_nOutTimeUnit;
    while (m_OutFifo.size() + bytes >= m_nOutHighWater) {
        const HANDLE space = m_hOutSpace;
        if (!space)
            return 1;
        m_bWaitSpace = 1;
        const DWORD waited = WaitForSingleObject(space, waitMs);
        if (waited == WAIT_OBJECT_0)
            continue;
        if (waited == WAIT_ABANDONED_0) {
            m_nError = kSoundOutClosed;
            return 0;
        }
        m_nError = kSoundOutTimeout;
        return 1;
    }
    return 1;
}

UINT CSound::DrainOut()
{
    if (m_bSnapshot)
        return m_nError;
    const DWORD waitMs = 2 * m_nOutTimeUnit;
    const DWORD limitMs = waitMs < kShortestDrainMs ? kDrainMs : waitMs;
    const DWORD start = GetTickCount();
    while (m_bOutOpen && GetTickCount() - start < limitMs) {
        bool withDriver = false;
        CScopedLock headers(&m_csOut);
        for (int i = 0; i < m_nOutBuffers && !withDriver; ++i)
            withDriver = !IsFree(m_OutHeader[i]);
        headers.Unlock();
        if (!withDriver && m_OutFifo.size() < 1)
            break;
        // Audio still in the FIFO comes back through the driver too.
        m_bWaitDone = 1;
        WaitForSingleObject(m_hOutDone, waitMs);
    }
    return m_nError;
}

void CSound::FlushOut()
{
    if (m_bSnapshot)
        return;
    m_OutFifo.empty();
    if (const HWAVEOUT handle = m_hWaveOut)
        waveOutReset(handle);
}

int CSound::GetOutPending() const
{
    int pending = m_OutFifo.size();
    CScopedLock headers(&m_csOut);
    for (int i = 0; i < m_nOutBuffers; ++i) {
        if (!IsFree(m_OutHeader[i]))
            pending += static_cast<int>(m_nOutBufferBytes);
    }
    return pending;
}

BOOL CSound::IsOutEmpty() const { return m_OutFifo.size() < 1; }

int CSound::GetOutRoom() const
{
    if (m_bSnapshot || !m_bOutOpen)
        return 0;
    const int width = m_OutFormat.wBitsPerSample == 16 ? 2 : 1;
    // WriteOut waits while the FIFO and one more buffer would reach the high water.
    const int bytes = m_nOutHighWater - m_OutFifo.size() - static_cast<int>(m_nOutBufferBytes) - 1;
    return std::max(0, bytes / width);
}
