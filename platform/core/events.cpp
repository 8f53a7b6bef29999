#include <cerrno>
#include <memory>
#include <mutex>
#include <new>

#include "core/eventfd.h"
#include "core/handles.h"

namespace rz::kernel {
namespace {

class Event final : public KernelObject {
public:
    Event(bool manualReset, bool initialState) : m_manualReset(manualReset), m_signal(initialState) {}

    bool Valid() const { return m_signal.Valid(); }
    void Set()
    {
        std::lock_guard hold(m_order);
        m_signal.Set();
    }
    void Reset() const { m_signal.Take(); }

    int PollFd() const override { return m_signal.Fd(); }
    // A manual-reset wait reads nothing from the descriptor, so the lock carries
    // the order from the setter to the waiter.
    bool ConsumeSignal() override
    {
        if (!m_manualReset)
            return m_signal.Take();
        std::lock_guard hold(m_order);
        return true;
    }

private:
    bool m_manualReset;
    EventFd m_signal;
    std::mutex m_order;
};

}  // namespace
}  // namespace rz::kernel

using namespace rz::kernel;

HANDLE CreateEventA(void*, BOOL manualReset, BOOL initialState, const char* name)
{
    if (name) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    std::shared_ptr<Event> event;
    try {
        event = std::make_shared<Event>(manualReset != FALSE, initialState != FALSE);
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (!event->Valid()) {
        SetLastError(ErrnoToWinError(errno));
        return nullptr;
    }
    return RegisterHandle(std::move(event));
}

BOOL SetEvent(HANDLE handle)
{
    const std::shared_ptr<Event> event = LookupHandleAs<Event>(handle);
    if (!event)
        return FALSE;
    event->Set();
    return TRUE;
}

BOOL ResetEvent(HANDLE handle)
{
    const std::shared_ptr<Event> event = LookupHandleAs<Event>(handle);
    if (!event)
        return FALSE;
    event->Reset();
    return TRUE;
}
