// Push-to-talk: what keys the transmitter, on a serial port's lines or through
// the rig's CAT command (Rig.h).
#pragma once

#include <memory>
#include <string>

#include <ruzada/wintypes.h>

#include "Options.h"

namespace rz::dgterm {

class Keyer {
public:
    virtual ~Keyer() = default;
    // False, with the reason, when the transmitter could not be keyed.
    virtual bool Key(std::string& error) = 0;
    virtual void Unkey() = 0;
    // For the status line: "COM3 RTS", "CAT".
    virtual std::string Name() const = 0;
};

// RTS, DTR or both of a COM port. The port is opened when dgterm starts, so a
// wrong port is reported at once, and held with both lines low while receiving.
class SerialPtt final : public Keyer {
public:
    // Nothing, with the reason naming the device, when the port does not open.
    static std::unique_ptr<SerialPtt> Open(int comPort, PttLine line, std::string& error);
    ~SerialPtt() override;

    bool Key(std::string& error) override;
    void Unkey() override;
    std::string Name() const override;

private:
    SerialPtt(HANDLE port, int comPort, PttLine line) : m_port(port), m_comPort(comPort), m_line(line) {}
    bool SetLines(bool raised);

    HANDLE m_port;
    int m_comPort;
    PttLine m_line;
    bool m_keyed = false;
};

// The device that COM n opens: $RUZADA_COMn, else /dev/ttyS<n-1>.
std::string ComPortDevice(int comPort);

}  // namespace rz::dgterm
