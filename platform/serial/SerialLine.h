// The interface between the communications core (serial/CommPort.cpp) and the
// device backends, one folder each: termios/ for terminal devices, virtual/ for
// in-process ports.
//
// The core validates every argument, keeps the receive buffer, the event mask and
// the settings that are not the device's own (null discarding, XON/XOFF limits),
// and does all waiting. A backend only answers, without ever blocking, and is
// always called with the core's lock held. Results are Windows error codes;
// ERROR_INVALID_HANDLE means that the device has vanished.
#pragma once

#include <poll.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "ruzada/serial.h"

namespace rz::serial {

enum class ModemLine { Rts, Dtr };
enum class Direction { Input, Output };

// What one receive produced besides data bytes.
struct LineMarks {
    bool breakSeen = false;
    bool errorSeen = false;  // a character with a parity or framing error
};

class SerialLine {
public:
    virtual ~SerialLine() = default;

    // BaudRate, ByteSize, Parity, StopBits, fParity, fOutxCtsFlow, RTS handshake,
    // fOutX, fInX, XonChar and XoffChar; the core has checked their ranges.
    virtual DWORD Configure(const DCB& dcb) = 0;
    // Fills those same fields from the device.
    virtual DWORD ReadSettings(DCB& dcb) = 0;

    virtual DWORD SetModemLine(ModemLine line, bool raised) = 0;
    // RTS raised while transmitting, by the driver.
    virtual DWORD SetRtsToggle(bool on) = 0;
    virtual DWORD SetBreak(bool on) = 0;

    // Up to `size` received bytes into `buffer`; `got` may be 0.
    virtual DWORD Receive(uint8_t* buffer, size_t size, size_t& got, LineMarks& marks) = 0;
    // As many of the bytes as the output queue takes; `sent` may be 0.
    virtual DWORD Send(const uint8_t* data, size_t size, size_t& sent) = 0;
    // Bytes handed over that the line has not sent yet.
    virtual DWORD OutputQueued(DWORD& count) = 0;
    virtual DWORD Purge(bool input, bool output) = 0;

    // What the core polls while it waits for input or for room for output. It
    // must stay ready while there is something to receive (or room to send), so
    // that several threads may poll it at once.
    virtual pollfd PollTarget(Direction direction) const = 0;
    // After poll reported `revents` on that target: false when the device has
    // vanished.
    virtual bool Acknowledge(short revents) = 0;
};

using OpenLine = std::unique_ptr<SerialLine> (*)(const std::string& device, DWORD& error);

// A backend claims the device names that start with its prefix; the last one,
// with an empty prefix, takes the rest.
struct SerialBackend {
    const char* prefix;
    OpenLine open;
};

extern const SerialBackend g_VirtualBackend;
extern const SerialBackend g_TermiosBackend;

}  // namespace rz::serial
