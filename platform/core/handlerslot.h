// A process-wide slot for a host's callback (debug output, message boxes).
#pragma once

#include <mutex>

namespace rz::kernel {

// Calls run one at a time under the slot's lock, so that once Set returns the
// callback it replaced is no longer running and its `user` may go away. The lock
// is recursive: a callback may itself write through its slot, or replace it.
template <class Callback>
class HandlerSlot {
public:
    void Set(Callback callback, void* user)
    {
        std::lock_guard hold(m_lock);
        m_callback = callback;
        m_user = user;
    }

    // Calls `use(callback, user)` when a callback is set; false when none is.
    template <class Use>
    bool With(Use&& use)
    {
        std::lock_guard hold(m_lock);
        if (!m_callback)
            return false;
        use(m_callback, m_user);
        return true;
    }

private:
    std::recursive_mutex m_lock;
    Callback m_callback = nullptr;
    void* m_user = nullptr;
};

}  // namespace rz::kernel
