#include "Ptt.h"

#include <cstdlib>

#include <ruzada/kernel.h>
#include <ruzada/serial.h>

#include "Text.h"

namespace rz::dgterm {
namespace {

std::string SystemText(DWORD code)
{
    char text[256] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, 0, text, sizeof text, nullptr);
    const std::string reason = OneLine(text);
    return reason.empty() ? "error " + std::to_string(code) : reason;
}

std::string Described(int comPort) { return "COM" + std::to_string(comPort) + " (" + ComPortDevice(comPort) + ")"; }

}  // namespace

std::string ComPortDevice(int comPort)
{
    const char* named = std::getenv(("RUZADA_COM" + std::to_string(comPort)).c_str());
    return named && *named ? named : "/dev/ttyS" + std::to_string(comPort - 1);
}

std::unique_ptr<SerialPtt> SerialPtt::Open(int comPort, PttLine line, std::string& error)
{
    const std::string name = "\\\\.\\COM" + std::to_string(comPort);
    HANDLE port = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        error = "cannot open the PTT port " + Described(comPort) + ": " + SystemText(GetLastError());
        return nullptr;
    }
    // Both lines low until the first over: opening a terminal raises them.
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port, &dcb)) {
        error = "cannot set up the PTT port " + Described(comPort) + ": " + SystemText(GetLastError());
        CloseHandle(port);
        return nullptr;
    }
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fOutxCtsFlow = 0;
    if (!SetCommState(port, &dcb)) {
        error = "cannot set up the PTT port " + Described(comPort) + ": " + SystemText(GetLastError());
        CloseHandle(port);
        return nullptr;
    }
    return std::unique_ptr<SerialPtt>(new SerialPtt(port, comPort, line));
}

SerialPtt::~SerialPtt()
{
    Unkey();
    CloseHandle(m_port);
}

bool SerialPtt::SetLines(bool raised)
{
    bool done = true;
    if (m_line != PttLine::Dtr)
        done = EscapeCommFunction(m_port, raised ? SETRTS : CLRRTS) && done;
    if (m_line != PttLine::Rts)
        done = EscapeCommFunction(m_port, raised ? SETDTR : CLRDTR) && done;
    return done;
}

bool SerialPtt::Key(std::string& error)
{
    if (!SetLines(true)) {
        error = "cannot key " + Described(m_comPort) + ": " + SystemText(GetLastError());
        SetLines(false);
        return false;
    }
    m_keyed = true;
    return true;
}

void SerialPtt::Unkey()
{
    if (m_keyed)
        SetLines(false);
    m_keyed = false;
}

std::string SerialPtt::Name() const
{
    const char* lines = m_line == PttLine::Rts ? "RTS" : m_line == PttLine::Dtr ? "DTR" : "RTS+DTR";
    return "COM" + std::to_string(m_comPort) + " " + lines;
}

}  // namespace rz::dgterm
