// The members of CSound and CHandle that the module publishes and never uses.
#include "audio/Sound.h"

CSound::CSound(const CSound& other) : CSound(other.m_nInBuffers, other.m_nOutBuffers) { CopyValuesFrom(other); }

CSound& CSound::operator=(const CSound& other)
{
    if (this != &other) {
        CloseIn();
        CloseOut();
        CopyValuesFrom(other);
    }
    return *this;
}

// The values, so that the getters answer as the original did. The locks stay the
// copy's own, the snapshot flag keeps it off the original's devices, and the
// buffer headers, which the original's driver thread is writing, stay behind.
void CSound::CopyValuesFrom(const CSound& other)
{
    m_nInBuffers = other.m_nInBuffers;
    m_nOutBuffers = other.m_nOutBuffers;
    m_hOutDone = other.m_hOutDone;
    m_hOutSpace = other.m_hOutSpace;
    m_hOutStop = other.m_hOutStop;
    m_bInOverrun = other.m_bInOverrun.load();
    m_bWaitSpace = other.m_bWaitSpace.load();
    m_bWaitDone = other.m_bWaitDone.load();
    m_nOutTimeUnit = other.m_nOutTimeUnit;
    m_nInDevice = other.m_nInDevice;
    m_bInOpen = other.m_bInOpen.load();
    m_bOutOpen = other.m_bOutOpen.load();
    m_nError = other.m_nError.load();
    m_nInBufferBytes = other.m_nInBufferBytes;
    m_nOutBufferBytes = other.m_nOutBufferBytes.load();
    m_hWaveIn = other.m_hWaveIn.load();
    m_hWaveOut = other.m_hWaveOut.load();
    m_OutFormat = other.m_OutFormat;
    m_InFormat = other.m_InFormat;
    m_OutFifo = other.m_OutFifo;
    m_nOutHighWater = other.m_nOutHighWater;
    m_hOutThread = other.m_hOutThread;
    m_bSnapshot = true;
}

UINT CSound::GetError() const { return m_nError; }
int CSound::IsInOpen() const { return m_bInOpen; }
int CSound::IsOutOpen() const { return m_bOutOpen; }
HWAVEIN CSound::GetWaveInHandle() const { return m_hWaveIn; }
HWAVEOUT CSound::GetWaveOutHandle() const { return m_hWaveOut; }

CHandle& CHandle::operator=(const CHandle& other)
{
    m_hHandle = other.m_hHandle;
    return *this;
}
