// Waiting: on kernel objects, or on nothing (Sleep). poll on the objects'
// descriptors, then take the signal of the lowest ready one.
//
// These waits are where TerminateThread ends a thread: the poll also watches the
// thread's termination signal, and the unwind starts here (see cancellation.h).
#include <poll.h>
#include <sched.h>
#include <time.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <memory>

#include "core/cancellation.h"
#include "core/handles.h"
#include "core/waits.h"

namespace rz::kernel {
namespace {

thread_local int t_terminationFd = -1;

using Objects = std::array<std::shared_ptr<KernelObject>, MAXIMUM_WAIT_OBJECTS>;

constexpr int64_t kNanosecondsPerMs = 1000000;

int64_t MonotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

class Deadline {
public:
    explicit Deadline(DWORD milliseconds)
        : m_infinite(milliseconds == INFINITE), m_end(MonotonicNs() + milliseconds * kNanosecondsPerMs)
    {}

    // The poll timeout until the deadline, rounded up so that a wait never ends
    // early: -1 for none, 0 once it has passed.
    int PollTimeout() const
    {
        if (m_infinite)
            return -1;
        const int64_t left = (m_end - MonotonicNs() + kNanosecondsPerMs - 1) / kNanosecondsPerMs;
        return left <= 0 ? 0 : static_cast<int>(left < INT_MAX ? left : INT_MAX);
    }

private:
    bool m_infinite;
    int64_t m_end;
};

// Ends the thread when it has been asked to. The unwind is caught and rethrown at
// once: AddressSanitizer cleans the stack where a throw starts, and without this
// the first cleanup above would trip over this frame's stale red zones. (Caught as
// "...": the forced unwind has no object to bind abi::__forced_unwind& to.)
void EndIfTerminated()
{
    try {
        pthread_testcancel();
    } catch (...) {
        throw;
    }
}

// Waits for the first of `objects` to be signalled, or for `extraFd` (-1 for
// none) to poll readable, which answers WAIT_OBJECT_0 + count. Signalled objects
// win over the descriptor, the lowest index first.
DWORD WaitAny(const Objects& objects, DWORD count, int extraFd, DWORD milliseconds)
{
    std::array<pollfd, MAXIMUM_WAIT_OBJECTS> fds{};
    for (DWORD i = 0; i < count; ++i) {
        fds[i] = {objects[i]->PollFd(), POLLIN, 0};
        if (fds[i].fd < 0) {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
    }
    nfds_t polled = count;
    if (extraFd >= 0)
        fds[polled++] = {extraFd, POLLIN, 0};
    const Deadline deadline(milliseconds);
    for (;;) {
        const int timeout = deadline.PollTimeout();
        const int ready = CancellablePoll(fds.data(), polled, timeout);
        if (ready < 0 && errno != EINTR) {
            SetLastError(ErrnoToWinError(errno));
            return WAIT_FAILED;
        }
        for (DWORD i = 0; ready > 0 && i < count; ++i) {
            if (fds[i].revents & POLLNVAL) {
                SetLastError(ERROR_INVALID_HANDLE);
                return WAIT_FAILED;
            }
            // Losing an auto-reset signal to another waiter just means waiting on.
            if (fds[i].revents && objects[i]->ConsumeSignal())
                return WAIT_OBJECT_0 + i;
        }
        if (ready > 0 && polled > count && fds[count].revents)
            return WAIT_OBJECT_0 + count;
        if (ready == 0 && timeout == 0)
            return WAIT_TIMEOUT;
    }
}

// Looks the handles up; false (the last error set) when one names no object.
bool LookUp(DWORD count, const HANDLE* handles, Objects& objects)
{
    for (DWORD i = 0; i < count; ++i) {
        objects[i] = LookupHandle(handles[i]);
        if (!objects[i])
            return false;
    }
    return true;
}

}  // namespace

int CancellablePoll(pollfd* fds, nfds_t count, int timeoutMs)
{
    if (count > MAXIMUM_WAIT_OBJECTS) {
        errno = EINVAL;
        return -1;
    }
    std::array<pollfd, MAXIMUM_WAIT_OBJECTS + 1> all{};
    std::copy_n(fds, count, all.begin());
    int ready;
    bool terminated = false;
    {
        const NoCancellation hold;
        // A routine that holds cancellation off itself is not ended here either.
        const bool watch = hold.WasEnabled() && t_terminationFd >= 0;
        all[count] = {watch ? t_terminationFd : -1, POLLIN, 0};
        ready = poll(all.data(), count + 1, timeoutMs);
        terminated = watch && all[count].revents != 0;
    }
    if (terminated)
        EndIfTerminated();
    for (nfds_t i = 0; i < count; ++i)
        fds[i].revents = all[i].revents;
    return ready;
}

void BindTerminationSignal(int fd) { t_terminationFd = fd; }

}  // namespace rz::kernel

using namespace rz::kernel;

DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds)
{
    Objects objects;
    objects[0] = LookupHandle(object);
    return objects[0] ? WaitAny(objects, 1, -1, milliseconds) : WAIT_FAILED;
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds)
{
    if (waitAll) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return WAIT_FAILED;
    }
    if (!handles || count == 0 || count > MAXIMUM_WAIT_OBJECTS) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    Objects objects;
    return LookUp(count, handles, objects) ? WaitAny(objects, count, -1, milliseconds) : WAIT_FAILED;
}

namespace rz::kernel {

DWORD WaitForObjectsOrFd(DWORD count, const HANDLE* handles, int fd, DWORD milliseconds)
{
    if ((count > 0 && !handles) || count >= MAXIMUM_WAIT_OBJECTS) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    Objects objects;
    return LookUp(count, handles, objects) ? WaitAny(objects, count, fd, milliseconds) : WAIT_FAILED;
}

}  // namespace rz::kernel

int GetHandleFd(HANDLE object)
{
    const std::shared_ptr<KernelObject> found = LookupHandle(object);
    if (!found)
        return -1;
    const int fd = found->PollFd();
    if (fd < 0)
        SetLastError(ERROR_INVALID_HANDLE);
    return fd;
}

void Sleep(DWORD milliseconds)
{
    WaitAny(Objects{}, 0, -1, milliseconds);
    if (milliseconds == 0)
        sched_yield();
}
