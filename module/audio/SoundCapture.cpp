// CSound: construction, destruction and the capture side.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "audio/Sound.h"
#include "base/ScopedLock.h"

CSound::CSound(int nInBuffers, int nOutBuffers)
    : m_nInBuffers(std::clamp(nInBuffers, 1, kMaxInBuffers)), m_nOutBuffers(std::clamp(nOutBuffers, 1, kMaxOutBuffers))
{
    InitializeCriticalSection(&m_csIn);
    InitializeCriticalSection(&m_csOut);
    InitializeCriticalSection(&m_csRead);
    std::memset(m_InRecord, 0, sizeof m_InRecord);
    std::memset(m_InHeader, 0, sizeof m_InHeader);
    std::memset(m_OutHeader, 0, sizeof m_OutHeader);
    std::fill(std::begin(m_InReady), std::end(m_InReady), -1);
}

CSound::~CSound()
{
    CloseIn();
    CloseOut();
    DeleteCriticalSection(&m_csIn);
    DeleteCriticalSection(&m_csOut);
    DeleteCriticalSection(&m_csRead);
}

UINT CSound::OpenIn(const WAVEFORMATEX* format, UINT device)
{
    if (m_bSnapshot)
        return MMSYSERR_NOTSUPPORTED;
    CScopedLock reading(&m_csRead);
    if (m_bInOpen)
        return m_nError = MMSYSERR_ALLOCATED;
    if (!format)
        return m_nError = MMSYSERR_INVALPARAM;

    m_nInDevice = device;
    m_bInOverrun = 0;
    m_InFormat = *format;
    const UINT frameBytes = m_InFormat.wBitsPerSample / 8 * m_InFormat.nChannels;
    m_nInBufferBytes = m_InFormat.nAvgBytesPerSec / m_nInBuffers * frameBytes;

    m_nError = 0;
    HWAVEIN handle = nullptr;
    const MMRESULT opened = waveInOpen(&handle, device, &m_InFormat, reinterpret_cast<DWORD_PTR>(&InCallback),
                                       reinterpret_cast<DWORD_PTR>(this), CALLBACK_FUNCTION);
    if (opened != MMSYSERR_NOERROR) {
        m_nError = opened;
        char line[96];
        std::snprintf(line, sizeof line, "Failure in waveInOpen.  Device = %d, ErrorCode = %d\r\n",
                      static_cast<int>(device), static_cast<int>(opened));
        OutputDebugStringA(line);
        return opened;
    }
    m_hWaveIn = handle;
    m_bInOpen = 1;

    CScopedLock queue(&m_csIn);
    for (int i = 0; i < m_nInBuffers; ++i) {
        CSoundInRecord& record = m_InRecord[i];
        WAVEHDR& header = m_InHeader[i];
        record = {kInPrepared, i, 0};
        m_InReady[i] = -1;
        header.dwBufferLength = m_nInBufferBytes;
        header.dwFlags = 0;
        header.dwBytesRecorded = 0;
        header.dwUser = reinterpret_cast<DWORD_PTR>(&record);
        header.lpData = static_cast<char*>(std::malloc(std::max<UINT>(m_nInBufferBytes, 1)));
        UINT failure = 0;
        if (!header.lpData)
            failure = kSoundNoMemory;
        else if (waveInPrepareHeader(handle, &header, sizeof header) != MMSYSERR_NOERROR)
            failure = MMSYSERR_INVALPARAM;
        else if (!RequeueIn(&header, &record))
            failure = MMSYSERR_NOMEM;
        if (failure) {
            queue.Unlock();
            return FailIn(failure);
        }
    }
    queue.Unlock();

    if (waveInStart(handle) != MMSYSERR_NOERROR)
        return FailIn(kSoundStartFailed);
    return 0;
}

UINT CSound::FailIn(UINT error)
{
    m_nError = error;
    CloseIn();
    return error;
}

bool CSound::RequeueIn(WAVEHDR* header, CSoundInRecord* record)
{
    header->dwBytesRecorded = 0;
    header->dwBufferLength = m_nInBufferBytes;
    record->nReadPos = 0;
    record->nState = kInQueued;
    const MMRESULT queued = waveInAddBuffer(m_hWaveIn, header, sizeof *header);
    m_nError = queued;
    if (queued != MMSYSERR_NOERROR) {
        record->nState = kInLost;
        return false;
    }
    return true;
}

void CSound::InCallback(void*, UINT message, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR)
{
    if (message != WIM_DATA)
        return;
    CSound* self = reinterpret_cast<CSound*>(instance);
    if (!self->m_bInOpen)
        return;
    const WAVEHDR* header = reinterpret_cast<const WAVEHDR*>(param1);
    // The record is looked up under the lock: a close clears dwUser once it has
    // held the lock, and the open flag is checked here first.
    CScopedLock queue(&self->m_csIn);
    if (!self->m_bInOpen)
        return;
    CSoundInRecord* record = reinterpret_cast<CSoundInRecord*>(header->dwUser);
    record->nState = kInRecorded;
    record->nReadPos = 0;
    int32_t* const end = self->m_InReady + self->m_nInBuffers;
    int32_t* const slot = std::find(self->m_InReady, end, -1);
    if (slot == end) {
        self->m_bInOverrun = 1;
        return;
    }
    *slot = record->nIndex;
}

int CSound::ReadIn(short* dst, int count)
{
    CScopedLock reading(&m_csRead);
    if (!m_bInOpen || m_bSnapshot) {
        m_nError = kSoundInClosed;
        return -1;
    }
    if (m_bInOverrun)
        m_nError = kSoundInOverrun;
    if (count < 1 || !dst)
        return 0;

    CScopedLock queue(&m_csIn);
    if (!m_bInOpen)
        return 0;
    int head = m_InReady[0];
    queue.Unlock();

    const int bufferBytes = static_cast<int>(m_nInBufferBytes);
    int copied = 0;
    while (head != -1) {
        // Samples against bytes, as the receive thread expects: a call returns
        // once the destination could not take two more whole buffers.
        if (copied > 0 && copied >= count - 2 * bufferBytes)
            break;
        CSoundInRecord& record = m_InRecord[head];
        WAVEHDR& header = m_InHeader[head];
        record.nState = kInReading;
        const int available = static_cast<int>(header.dwBytesRecorded) - record.nReadPos;
        const int bytes = std::min(available, (count - copied) * 2) & ~1;
        if (bytes > 0) {
            std::memcpy(dst + copied, header.lpData + record.nReadPos, bytes);
            record.nReadPos += bytes;
            copied += bytes / 2;
        }
        queue.Lock();
        // Used up, down to a stray odd byte that no sample could take.
        if (static_cast<int>(header.dwBytesRecorded) - record.nReadPos < 2) {
            if (!m_bInOpen)
                return 0;
            std::copy(m_InReady + 1, m_InReady + m_nInBuffers, m_InReady);
            m_InReady[m_nInBuffers - 1] = -1;
            head = m_InReady[0];
            queue.Unlock();
            RequeueIn(&header, &record);
        } else {
            head = m_InReady[0];
            queue.Unlock();
        }
    }
    return copied;
}

void CSound::CloseIn()
{
    if (m_bSnapshot)
        return;
    CScopedLock reading(&m_csRead);
    if (!m_bInOpen)
        return;
    // Cleared first: buffers that the reset hands back are ignored.
    m_bInOpen = 0;
    const HWAVEIN handle = m_hWaveIn;
    {
        CScopedLock queue(&m_csIn);
        waveInReset(handle);
    }
    for (int i = 0; i < m_nInBuffers; ++i) {
        WAVEHDR& header = m_InHeader[i];
        if (!header.lpData)
            continue;
        if (header.dwFlags & WHDR_PREPARED)
            waveInUnprepareHeader(handle, &header, sizeof header);
        header.dwUser = 0;
        std::free(header.lpData);
        header.lpData = nullptr;
    }
    waveInClose(handle);
    m_hWaveIn = nullptr;
}
