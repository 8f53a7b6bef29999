// Push-to-talk on the RTS line of a COM port.
#pragma once

#include <string>

#include "Module.h"

// The port is opened only to key and closed after unkeying: opening a port for
// RTS control raises its RTS line, and nothing may key the transmitter while
// receiving.
class Ptt {
public:
    Ptt(Module& module, int comPort) : m_module(module), m_comPort(comPort) {}
    ~Ptt() { Unkey(); }
    Ptt(const Ptt&) = delete;
    Ptt& operator=(const Ptt&) = delete;

    // Raises RTS; blocks for the module's keying pauses (about 300 ms). False,
    // with the reason, when the port does not open.
    bool Key(std::string& error);
    // Drops RTS and closes the port; nothing when not keyed.
    void Unkey();

private:
    Module& m_module;
    int m_comPort;
    CCOMPort* m_port = nullptr;
};

// "COM3" or "3" to 3; 0 for anything else.
int ParseComPort(const std::string& text);
