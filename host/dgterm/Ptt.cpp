#include "Ptt.h"

#include <strings.h>

#include <cstdlib>

#include <ruzada/kernel.h>
#include <ruzada/serial.h>

#include "Text.h"

bool Ptt::Key(std::string& error)
{
    if (m_port)
        return true;
    // Eight data bits leave RTS to DGSetRTS (five would hand it to the module's
    // own keying).
    CCOMPort* port = m_module.DGOpenComPort(m_comPort, NOPARITY, ONESTOPBIT, 8, 9600);
    const DWORD code = GetLastError();
    if (!port || code != ERROR_SUCCESS) {
        char text[256] = {};
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, 0, text, sizeof text, nullptr);
        const std::string reason = OneLine(text);
        error = "cannot key COM" + std::to_string(m_comPort) + ": " +
                (reason.empty() ? "error " + std::to_string(code) : reason);
        if (port)
            m_module.DGCloseComPort(port);
        return false;
    }
    m_port = port;
    m_module.DGSetRTS(m_port, TRUE);
    return true;
}

void Ptt::Unkey()
{
    if (!m_port)
        return;
    m_module.DGSetRTS(m_port, FALSE);
    m_module.DGCloseComPort(m_port);
    m_port = nullptr;
}

int ParseComPort(const std::string& text)
{
    const char* digits = text.c_str();
    if (strncasecmp(digits, "COM", 3) == 0)
        digits += 3;
    char* end = nullptr;
    const long number = std::strtol(digits, &end, 10);
    if (end == digits || *end != '\0' || number < 1 || number > 255)
        return 0;
    return static_cast<int>(number);
}
