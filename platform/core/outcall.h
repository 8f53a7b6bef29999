// A thread's call out of its caller's library (ruzada/outcall.h): whether one is
// out, whether it was given up, and where the thread goes when a given-up call
// comes back.
#pragma once

#include <setjmp.h>

#include <mutex>

#include "ruzada/kernel.h"

namespace rz::kernel {

class OutCallSlot {
public:
    // The thread's way out of a given-up call: set once by the thread's start,
    // below every frame of its routine.
    sigjmp_buf& Exit() { return m_exit; }

    void Begin(const void* routine);
    // The call came back, or unwinds: if it was given up, drops the load that
    // kept its library and jumps to Exit() instead of returning.
    void End();
    // Gives up the call that is out; false when none is.
    bool Abandon();

private:
    enum class State { Idle, Out, Abandoned };

    std::mutex m_lock;
    State m_state = State::Idle;
    const void* m_routine = nullptr;
    HMODULE m_keptLibrary = nullptr;
    sigjmp_buf m_exit;
};

// Binds the calling thread's slot: the platform's threads bind one for their
// life; other threads have none, and their calls out are plain calls.
void BindOutCallSlot(OutCallSlot* slot);

}  // namespace rz::kernel
