// Termination (TerminateThread) inside the platform: where it acts, and where it
// must not.
//
// TerminateThread cancels a thread (pthread_cancel, deferred). The platform's own
// waits and sleeps do not leave that to the C library's poll: they poll with
// cancellation held off, watching the thread's termination signal too, and start
// the unwind themselves. An unwind that starts inside an intercepted C library
// call leaves the sanitizers' bookkeeping broken (ThreadSanitizer then loses the
// thread's locks); one that starts in the platform's own frame does not.
#pragma once

#include <poll.h>
#include <pthread.h>

namespace rz::kernel {

// Holds cancellation off in a scope: around the platform's polls, and around
// eventfd calls, which are cancellation points only by the C library's rules
// (they never block, and a destructor must not be unwound).
class NoCancellation {
public:
    NoCancellation() { pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &m_previous); }
    ~NoCancellation() { pthread_setcancelstate(m_previous, nullptr); }
    NoCancellation(const NoCancellation&) = delete;
    NoCancellation& operator=(const NoCancellation&) = delete;

    // Whether the thread could be cancelled before this scope.
    bool WasEnabled() const { return m_previous == PTHREAD_CANCEL_ENABLE; }

private:
    int m_previous = PTHREAD_CANCEL_ENABLE;
};

// poll for the platform's backends, as the platform's own waits use it: the
// thread's termination signal is watched too, and a thread that TerminateThread
// has asked to end unwinds from here rather than from inside the C library. At
// most MAXIMUM_WAIT_OBJECTS descriptors (EINVAL otherwise).
int CancellablePoll(pollfd* fds, nfds_t count, int timeoutMs);

// Binds the calling thread's termination signal: a descriptor that becomes
// readable once TerminateThread has asked the thread to end (-1: none). The
// platform's waits and sleeps watch it and unwind the thread from there.
void BindTerminationSignal(int fd);

}  // namespace rz::kernel
