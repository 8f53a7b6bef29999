// One open communications device: the state Windows keeps in its serial driver
// above the hardware (receive buffer, event mask and history, line errors, the
// settings termios does not hold), over a backend line that never blocks.
//
// Every call takes the port's lock only around backend calls and bookkeeping;
// waiting happens on poll, outside the lock, together with the caller's stop
// event and a descriptor of the caller's own that SetCommMask and close use to
// release the wait.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "core/handles.h"
#include "serial/SerialLine.h"

namespace rz::serial {

using rz::kernel::KernelObject;

class CommPort {
public:
    explicit CommPort(std::unique_ptr<SerialLine> line);
    ~CommPort();
    CommPort(const CommPort&) = delete;
    CommPort& operator=(const CommPort&) = delete;

    // Each returns a Windows error code (0 success).
    DWORD GetState(DCB& dcb);
    DWORD SetState(const DCB& dcb);
    DWORD SetMask(DWORD mask);
    DWORD Escape(DWORD function);
    DWORD SetBreak(bool on);
    DWORD Purge(DWORD flags);
    DWORD ClearError(DWORD* errors, COMSTAT* status);
    DWORD Read(uint8_t* buffer, DWORD size, DWORD& read);
    // `stop` (may be null) is an event or other waitable object; the caller keeps
    // it alive meanwhile.
    DWORD Write(const uint8_t* data, DWORD size, DWORD& written, KernelObject* stop);
    // WAIT_OBJECT_0 (stop), WAIT_OBJECT_0 + 1 (events), WAIT_TIMEOUT, or WAIT_FAILED
    // with `error` set.
    DWORD WaitEvents(KernelObject* stop, DWORD milliseconds, DWORD& events, DWORD& error);

    // The handle was closed: waits under way end with ERROR_INVALID_HANDLE.
    void Shut();

private:
    class Waiter;
    enum class Wake { Stop, Line, Released, Timeout, Failed };

    void Pull();
    DWORD Pending();
    DWORD Usable() const;
    Wake Poll(Waiter& waiter, KernelObject* stop, Direction direction, bool watchLine, int timeoutMs);
    void Release(bool eventWaitersOnly);

    std::mutex m_lock;
    std::unique_ptr<SerialLine> m_line;
    DCB m_dcb{};
    DWORD m_mask = 0;
    unsigned m_maskChanges = 0;
    std::vector<uint8_t> m_input;
    DWORD m_errors = 0;
    bool m_breakPending = false;
    bool m_sending = false;
    bool m_shut = false;
    bool m_gone = false;
    std::vector<Waiter*> m_waiters;
};

}  // namespace rz::serial
