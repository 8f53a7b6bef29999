// The port object, its settings, opening and closing, and its two threads.
#include <cstdio>

#include <ruzada/serial.h>

#include "serial/COMPort.h"

namespace {

constexpr DWORD kReaderPassMs = 10;
constexpr DWORD kReaderIoWaitMs = 500;
constexpr DWORD kWriterPassMs = 5;
constexpr DWORD kLineSetUpMs = 100;
constexpr DWORD kReadChunk = 4095;
constexpr int kWriteChunk = 4096;
constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

// A read or wait that failed this way means that the device is gone.
bool DeviceLost(DWORD error)
{
    return error == ERROR_ACCESS_DENIED || error == ERROR_INVALID_HANDLE || error == ERROR_OPERATION_ABORTED;
}

}  // namespace

CCOMPort::CCOMPort() { ClearReceived(); }

CCOMPort::~CCOMPort()
{
    Activate(0);
    // A port whose threads never ran, or whose reader ended it, still holds them.
    JoinThreads();
    ReleaseDevice();
}

CCOMPort& CCOMPort::operator=(const CCOMPort& other)
{
    if (this == &other)
        return *this;
    SetPort(other.m_nPort, other.m_byParity, other.m_byStopBits, other.m_byByteSize, other.m_dwBaudRate);
    m_bHAMMode = other.m_bHAMMode.load();
    m_bRTSKeying = other.m_bRTSKeying.load();
    m_bExtended = other.m_bExtended.load();
    m_bMilitary = other.m_bMilitary.load();
    m_bDiddle = other.m_bDiddle.load();
    return *this;
}

void CCOMPort::SetPort(int port, unsigned char parity, unsigned char stopBits, unsigned char byteSize,
                       unsigned long baudRate)
{
    if (port == m_nPort && parity == m_byParity && stopBits == m_byStopBits && byteSize == m_byByteSize &&
        baudRate == m_dwBaudRate)
        return;
    Activate(0);
    m_nPort = (port < 1 || port > 255) ? 1 : port;
    m_byParity = parity;
    m_byStopBits = stopBits;
    m_byByteSize = byteSize;
    m_dwBaudRate = baudRate;
    m_nReceiveShift = 0;
    m_nTransmitShift = 0;
    m_bRTSKeying = byteSize == 5 ? 1 : 0;
}

int CCOMPort::GetPort() const { return m_nPort; }
unsigned long CCOMPort::BaudRate() const { return m_dwBaudRate; }
unsigned char CCOMPort::BitWidth() const { return m_byByteSize; }
void CCOMPort::SetHAMMode(int on) { m_bHAMMode = on ? 1 : 0; }
bool CCOMPort::IsOpen() const { return m_bActive == 1; }
int CCOMPort::CommActive() const { return m_bActive; }
int CCOMPort::PortActive() const { return m_hDevice.load() ? 1 : 0; }

int CCOMPort::Activate(int open) { return open ? Open() : Close(); }

int CCOMPort::Open()
{
    if (m_hDevice) {
        SetLastError(ERROR_ALREADY_ASSIGNED);
        return 1;
    }
    JoinThreads();
    ReleaseDevice();

    char name[24];
    std::snprintf(name, sizeof name, "\\\\.\\COM%d", m_nPort);
    HANDLE device = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE)
        return 0;
    HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!stop) {
        const DWORD error = GetLastError();
        CloseHandle(device);
        SetLastError(error);
        return 0;
    }

    // Unchecked: the reader sets its own mask, and checks it, before its first wait.
    SetCommMask(device, EV_RXCHAR | EV_TXEMPTY);
    // Unchecked: a fresh device with nothing to drop works all the same.
    PurgeComm(device, kPurgeAll);
    ApplyLineSettings(device);
    m_bHasData = 0;
    m_hStopEvent = stop;
    m_hDevice = device;
    m_bActive = 1;

    // Held until the lines are set up, so that nothing the threads do races the
    // line set-up below.
    m_hReaderThread = CreateThread(nullptr, 0, ReaderThreadProc, this, CREATE_SUSPENDED, nullptr);
    if (!m_hReaderThread) {
        m_bActive = 0;
        SetLastError(ERROR_SUCCESS);
        return 1;
    }
    m_hWriterThread = CreateThread(nullptr, 0, WriterThreadProc, this, CREATE_SUSPENDED, nullptr);
    if (!m_hWriterThread)
        m_bActive = 0;

    SetUpLines();
    Sleep(kLineSetUpMs);
    ResumeThread(m_hReaderThread);
    if (m_hWriterThread)
        ResumeThread(m_hWriterThread);
    // The reader unkeys as it starts: let that happen before the port's user can
    // key, so that it never undoes a keying.
    while (!m_bReaderRunning && WaitForSingleObject(m_hReaderThread, 1) == WAIT_TIMEOUT)
        continue;
    SetLastError(ERROR_SUCCESS);
    return 1;
}

int CCOMPort::Close()
{
    if (!m_bActive) {
        SetLastError(ERROR_SUCCESS);
        return 1;
    }
    if (HANDLE device = m_hDevice) {
        PTTOff();
        SetEvent(m_hStopEvent);
        m_bActive = 0;
        // Unchecked: both only hurry the threads out; the stop event ends them anyway.
        SetCommMask(device, 0);
        PurgeComm(device, kPurgeAll);
    } else {
        SetEvent(m_hStopEvent);
        m_bActive = 0;
    }
    JoinThreads();
    ReleaseDevice();
    SetLastError(ERROR_SUCCESS);
    return 1;
}

void CCOMPort::ApplyLineSettings(HANDLE device)
{
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    // Unchecked: without the device's state the fields below still make a whole setting.
    GetCommState(device, &dcb);
    const bool ham = m_bHAMMode;
    dcb.BaudRate = static_cast<DWORD>(m_dwBaudRate);
    dcb.ByteSize = m_byByteSize;
    dcb.Parity = m_byParity;
    dcb.StopBits = m_byStopBits;
    dcb.fBinary = 1;
    dcb.fParity = m_byParity != 0;
    dcb.fOutxCtsFlow = 0;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fDtrControl = ham ? DTR_CONTROL_DISABLE : DTR_CONTROL_HANDSHAKE;
    dcb.fRtsControl = ham ? RTS_CONTROL_DISABLE : RTS_CONTROL_TOGGLE;
    dcb.fNull = ham;
    dcb.XonLim = ham ? 100 : 3072;
    dcb.XoffLim = ham ? 100 : 3072;
    dcb.XonChar = 17;
    dcb.XoffChar = 19;
    // Unchecked: a device that keeps a setting of its own (a pseudo-terminal keeps
    // 8 data bits) still carries the bytes.
    SetCommState(device, &dcb);
}

void CCOMPort::SetUpLines()
{
    if (!m_bRTSKeying) {
        if (m_bHAMMode) {
            SwitchLine(SETRTS);
            SwitchLine(SETDTR);
        }
        return;
    }
    m_bTransmitting = 0;
    if (m_bHAMMode)
        SwitchLine(CLRRTS);
}

void CCOMPort::JoinThreads()
{
    for (HANDLE* thread : {&m_hReaderThread, &m_hWriterThread}) {
        if (!*thread)
            continue;
        WaitForSingleObject(*thread, INFINITE);
        // Taking the exit code also orders everything the thread did before what
        // follows here (the wait alone is a poll on a descriptor).
        DWORD exitCode = 0;
        GetExitCodeThread(*thread, &exitCode);
        CloseHandle(*thread);
        *thread = nullptr;
    }
}

void CCOMPort::ReleaseDevice()
{
    if (HANDLE device = m_hDevice.exchange(nullptr))
        CloseHandle(device);
    if (HANDLE stop = m_hStopEvent.exchange(nullptr))
        CloseHandle(stop);
}

DWORD CCOMPort::ReaderThreadProc(void* port) { return static_cast<CCOMPort*>(port)->ReaderThread(); }
DWORD CCOMPort::WriterThreadProc(void* port) { return static_cast<CCOMPort*>(port)->WriterThread(); }

DWORD CCOMPort::ReaderThread()
{
    const HANDLE device = m_hDevice;
    const HANDLE stop = m_hStopEvent;
    if (!device || !SetCommMask(device, EV_RXCHAR | EV_TXEMPTY | EV_BREAK))
        return 0;
    PTTOff();
    m_bReaderRunning = 1;

    unsigned char buffer[kReadChunk + 1];
    bool idle = true;
    for (;;) {
        if (!m_bActive || !m_hDevice)
            break;
        // Between busy passes the next wait follows at once; an idle pass paces.
        if (idle && WaitForSingleObject(stop, kReaderPassMs) == WAIT_OBJECT_0)
            break;
        DWORD events = 0;
        const DWORD result = WaitCommEvents(device, stop, kReaderIoWaitMs, &events);
        if (result == WAIT_FAILED && DeviceLost(GetLastError()))
            return EndFromReader();
        idle = result != WAIT_OBJECT_0 + 1 || events == 0;
        if (idle)
            continue;
        HandleLineEvents(device, events);
        if (events & EV_RXCHAR) {
            DWORD got = 0;
            if (!ReadComm(device, buffer, kReadChunk, &got)) {
                if (DeviceLost(GetLastError()))
                    return EndFromReader();
                continue;
            }
            ProcessReceived(buffer, static_cast<int>(got));
        }
    }
    PTTOff();
    m_bReaderRunning = 0;
    return 1;
}

void CCOMPort::HandleLineEvents(HANDLE device, DWORD events)
{
    if (events & EV_BREAK)
        ClearCommBreak(device);  // unchecked: a device that cannot clear it reports the next break all the same
    if (events & EV_TXEMPTY)
        SetTXEmpty(1);
}

// The device has gone: close the port from here. The owner's thread closes the
// stop event and joins both threads when it next closes, opens or deletes.
DWORD CCOMPort::EndFromReader()
{
    PTTOff();
    SetEvent(m_hStopEvent);
    m_bActive = 0;
    // The writer may be inside a write to the device; let it leave first.
    WaitForSingleObject(m_hWriterThread, INFINITE);
    if (HANDLE device = m_hDevice.exchange(nullptr))
        CloseHandle(device);
    m_bReaderRunning = 0;
    return 1;
}

DWORD CCOMPort::WriterThread()
{
    Sleep(kWriterPassMs);
    if (!m_bActive)
        return 1;
    const HANDLE stop = m_hStopEvent;
    unsigned char chunk[kWriteChunk];
    for (;;) {
        const HANDLE device = m_hDevice;
        if (!device || WaitForSingleObject(stop, kWriterPassMs) == WAIT_OBJECT_0)
            break;
        if (!m_bTransmitDisabled) {
            if (HasSendThreadData()) {
                const int n = m_SendQueue.read(chunk, kWriteChunk);
                // Cleared before the write so that the reader's transmit-empty
                // event for these bytes cannot be overwritten after it.
                SetTXEmpty(0);
                DWORD written = 0;
                // Only a stop is answered: a vanished device ends the port from the reader.
                if (!WriteComm(device, chunk, static_cast<DWORD>(n), &written, stop) &&
                    GetLastError() == ERROR_OPERATION_ABORTED)
                    break;
            } else if (m_bForceOn && m_bDiddle) {
                WriteIdleFill(device, stop);
            }
        }
        if (!m_bActive)
            break;
    }
    return 1;
}

// Diddle: while the transmitter is held on with nothing to send, keep the line
// busy with fill characters, four at a time and only once the driver has sent
// the last ones, so that fill never delays queued text by more than four.
void CCOMPort::WriteIdleFill(HANDLE device, HANDLE stop)
{
    unsigned char fill;
    switch (m_byByteSize) {
        case 5:
            fill = 0x1F;
            break;
        case 7:
            fill = 0x7F;
            break;
        case 8:
            fill = 0xFF;
            break;
        default:
            return;
    }
    COMSTAT status{};
    if (!ClearCommError(device, nullptr, &status) || status.cbOutQue != 0)
        return;
    PTTOn();
    const unsigned char fills[4] = {fill, fill, fill, fill};
    DWORD written = 0;
    SetTXEmpty(0);
    // Unchecked: lost fill is no loss, and a vanished device ends the port from the reader.
    WriteComm(device, fills, sizeof fills, &written, stop);
}
