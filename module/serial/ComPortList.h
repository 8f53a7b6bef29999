// g_ComPortList: every port that DGOpenComPort created and no close has freed,
// in order of opening. The port pointers handed to hosts and snap-ins are
// checked against it, so a pointer that did not come from DGOpenComPort, or was
// closed already, is ignored rather than followed.
#pragma once

#include <algorithm>
#include <shared_mutex>
#include <vector>

#include "serial/COMPort.h"

class CComPortList {
public:
    void Append(CCOMPort* port);
    // Takes `port` out of the list; false when it was not there.
    bool Remove(CCOMPort* port);
    std::vector<CCOMPort*> TakeAll();

    // Runs `use` on `port` when it is listed. The list stays locked for readers
    // meanwhile, so no close can free the port under `use`.
    template <class Result, class Use>
    Result Visit(CCOMPort* port, Result unlisted, Use&& use) const
    {
        std::shared_lock lock(m_lock);
        if (!port || std::find(m_ports.begin(), m_ports.end(), port) == m_ports.end())
            return unlisted;
        return use(*port);
    }

private:
    mutable std::shared_mutex m_lock;
    std::vector<CCOMPort*> m_ports;
};

extern CComPortList g_ComPortList;

// Closes and frees every listed port (at unload).
void CloseAllComPorts();
