// CCOMPort: one serial port opened for the host or a snap-in, for push-to-talk on
// RTS and for byte traffic, 5-bit Baudot included. Exported whole; the module's
// own ports are created by DGOpenComPort.
//
// An open port runs two threads: a reader that collects received bytes (decoding
// Baudot on a 5-bit port) and line events, and a writer that drains the send
// queue to the line. Flags are single 32-bit values that the threads and the
// port's user read and write without a lock; the two queues have their own locks.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include <ruzada/kernel.h>

#include "base/Export.h"
#include "util/SerialFIFO.h"

class RUZADA_CLASS CCOMPort {
public:
    // Closed, COM1 at 9600 baud, 8 data bits, no parity, one stop bit, HAM mode.
    CCOMPort();
    // Closes the port and waits for both of its threads to end.
    ~CCOMPort();
    CCOMPort(const CCOMPort&) = delete;
    // Takes the other port's settings as SetPort takes them (closing this port
    // when they differ) with its HAM mode, RTS keying, Baudot variant and diddle
    // flags. Queues, device and threads stay this port's own.
    CCOMPort& operator=(const CCOMPort& other);

    // ---- device ----
    // Port number (outside 1..255 becomes 1), Windows parity code (0 none, 1 odd,
    // 2 even, 3 mark, 4 space), stop-bit code (0 one, 1 one and a half, 2 two),
    // data bits (5 selects Baudot and RTS keying), baud rate. Changed settings
    // close an open port; it is not reopened.
    void SetPort(int port, unsigned char parity, unsigned char stopBits, unsigned char byteSize,
                 unsigned long baudRate);
    int GetPort() const;
    unsigned long BaudRate() const;
    unsigned char BitWidth() const;
    // 1: the module switches RTS and DTR itself and the driver does no handshaking;
    // 0: the driver runs DTR handshake and RTS toggle. Line settings take it at the
    // next open, keying at once.
    void SetHAMMode(int on);
    bool IsOpen() const;
    int CommActive() const;
    int PortActive() const;

    // ---- data ----
    // Takes up to n received bytes (decoded characters on a 5-bit port).
    int read(unsigned char* out, int n);
    int peek(unsigned char* out, int n);
    // Queues n raw bytes (Baudot codes on a 5-bit port); returns the queue's count.
    int write(unsigned char* data, int n);
    int size() const;
    int DataLength() const;
    int outsize() const;
    int HasData() const;
    int HasMoreData() const;
    int HasSendData() const;
    // Drops what waits to be sent and unkeys.
    void ClearBufferedData();
    // As ClearBufferedData, and drops what was received.
    void Empty();
    void FlipASCIISign();
    void FlipBaudotSign();
    void SetExtended(int on);
    int GetExtended() const;
    void SetMilitary(int on);
    int GetMilitary() const;

    // ---- push-to-talk and line control ----
    // Non-zero: puts the shift code ahead of the queue, lets the writer go and
    // keys. 0: unkeys once the driver has sent everything it holds.
    void ForceTransmitOn(int on);
    int TransmitForceOn() const;
    int Transmitting() const;
    void SetTransmitting(int on);
    void Stop();
    void Go();
    int TransmitDisabled() const;
    // RTS keying on or off; turning it off on an open port in HAM mode raises RTS
    // and DTR.
    void SetRTS(int enable);
    int GetRTS() const;
    // Direct RTS control without keying in HAM mode; 100 ms pauses before and after.
    void SetRTSRaw(int on);
    // 200 ms of break on an open port.
    void Break();
    void SetDiddle(int on);
    int GetDiddle() const;
    int SetWatchdog(int value);
    int GetWatchdog() const;
    int IncrementWatchdog();
    void ResetWatchdog();

    // ---- inside the module only (not in the export list) ----
    // 1 opens, 0 closes. Open returns 0 when the device cannot be opened, with the
    // system's code as the last error; otherwise 1 with the last error 0, or 85
    // when the port was open already.
    int Activate(int open);
    // One chunk from the line, decoded in place on a 5-bit port and queued.
    void ProcessReceived(unsigned char* bytes, int n);
    unsigned char BaudotToASCII(unsigned char b);
    unsigned char MilitaryBaudotToASCII(unsigned char b);
    void ClearReceived();
    void PTTOn();
    void PTTOff();
    unsigned char ShiftCode() const;
    int HasSendThreadData() const;
    int TXEmpty() const;
    void SetTXEmpty(int on);
    // DGReadComPort and DGWriteComPort on this port.
    int ReadReceiveBlock(unsigned char* buffer, int capacity);
    void QueueForSending(const unsigned char* data, int count);

private:
    // Baudot shift codes.
    static constexpr unsigned char kFiguresShift = 27;
    static constexpr unsigned char kLettersShift = 31;

    static DWORD ReaderThreadProc(void* port);
    static DWORD WriterThreadProc(void* port);
    int Open();
    int Close();
    DWORD ReaderThread();
    DWORD WriterThread();
    void HandleLineEvents(HANDLE device, DWORD events);
    DWORD EndFromReader();
    void WriteIdleFill(HANDLE device, HANDLE stop);
    void ApplyLineSettings(HANDLE device);
    void SetUpLines();
    void JoinThreads();
    void ReleaseDevice();
    void SwitchLine(DWORD function);
    void KeyedSwitch(DWORD function);

    int m_nPort = 1;
    unsigned long m_dwBaudRate = 9600;
    unsigned char m_byByteSize = 8;
    unsigned char m_byParity = 0;
    unsigned char m_byStopBits = 0;
    std::atomic<HANDLE> m_hDevice{nullptr};
    std::atomic<int32_t> m_bActive{0};
    std::atomic<int32_t> m_bHAMMode{1};
    CSerialFIFO m_ReceiveQueue;
    std::vector<unsigned char> m_ReceiveBlock;
    HANDLE m_hReaderThread = nullptr;
    HANDLE m_hWriterThread = nullptr;
    std::atomic<int32_t> m_bHasData{0};
    std::atomic<int32_t> m_bReaderRunning{0};
    std::atomic<int32_t> m_nReceiveShift{0};
    std::atomic<int32_t> m_nTransmitShift{0};
    std::atomic<int32_t> m_bExtended{0};
    std::atomic<int32_t> m_bDiddle{0};
    std::atomic<int32_t> m_bRTSKeying{0};
    std::atomic<int32_t> m_bForceOn{0};
    std::atomic<int32_t> m_bTransmitting{0};
    std::atomic<int32_t> m_bTransmitDisabled{0};
    std::atomic<int32_t> m_bTXEmpty{1};
    CSerialFIFO m_SendQueue;
    std::atomic<int32_t> m_nWatchdog{0};
    std::atomic<HANDLE> m_hStopEvent{nullptr};
    std::atomic<int32_t> m_bMilitary{0};
};
