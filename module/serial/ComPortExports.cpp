// The six COM port exports and the list of open ports.
#include <mutex>
#include <utility>

#include <RUZada.h>

#include "core/Guard.h"
#include "serial/ComPortList.h"

[[gnu::init_priority(1002)]] CComPortList g_ComPortList;

void CComPortList::Append(CCOMPort* port)
{
    std::unique_lock lock(m_lock);
    m_ports.push_back(port);
}

bool CComPortList::Remove(CCOMPort* port)
{
    std::unique_lock lock(m_lock);
    const auto found = std::find(m_ports.begin(), m_ports.end(), port);
    if (!port || found == m_ports.end())
        return false;
    m_ports.erase(found);
    return true;
}

std::vector<CCOMPort*> CComPortList::TakeAll()
{
    std::unique_lock lock(m_lock);
    return std::exchange(m_ports, {});
}

namespace {

void Destroy(CCOMPort* port)
{
    Guarded([&] {
        port->Activate(0);
        delete port;
    });
}

}  // namespace

CCOMPort* DGOpenComPort(int port, int parity, int stopBits, int byteSize, uint32_t baudRate)
{
    if (port == 0) {
        port = DGRequestComPort();
        if (port == 0) {
            SetLastError(ERROR_INVALID_DATA);
            return nullptr;
        }
    }
    CCOMPort* opened = nullptr;
    try {
        opened = new CCOMPort;
        opened->SetHAMMode(1);
        opened->SetPort(port, static_cast<unsigned char>(parity), static_cast<unsigned char>(stopBits),
                        static_cast<unsigned char>(byteSize), baudRate);
        opened->Activate(1);
        const DWORD result = GetLastError();
        g_ComPortList.Append(opened);
        SetLastError(result);
        return opened;
    } catch (...) {
        delete opened;
        SetLastError(ERROR_INVALID_DATA);
        return nullptr;
    }
}

void DGCloseComPort(CCOMPort* port)
{
    Guarded([&] {
        if (g_ComPortList.Remove(port))
            Destroy(port);
    });
}

int DGReadComPort(CCOMPort* port, unsigned char* buffer, int capacity)
{
    return Guarded(0, [&] {
        return g_ComPortList.Visit(port, 0, [&](CCOMPort& p) { return p.ReadReceiveBlock(buffer, capacity); });
    });
}

void DGWriteComPort(CCOMPort* port, const unsigned char* data, int count)
{
    Guarded([&] {
        g_ComPortList.Visit(port, false, [&](CCOMPort& p) {
            p.QueueForSending(data, count);
            return true;
        });
    });
}

void DGEnablePortRTS(CCOMPort* port, BOOL enable)
{
    Guarded([&] {
        g_ComPortList.Visit(port, false, [&](CCOMPort& p) {
            p.SetRTS(enable);
            return true;
        });
    });
}

void DGSetRTS(CCOMPort* port, BOOL on)
{
    Guarded([&] {
        g_ComPortList.Visit(port, false, [&](CCOMPort& p) {
            p.SetRTSRaw(on);
            return true;
        });
    });
}

void CloseAllComPorts()
{
    for (CCOMPort* port : g_ComPortList.TakeAll())
        Destroy(port);
}
