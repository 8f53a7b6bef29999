#include "core/eventfd.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

#include "core/cancellation.h"

namespace rz::kernel {

EventFd::EventFd(bool set) : m_fd(eventfd(set ? 1 : 0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

EventFd::~EventFd()
{
    const NoCancellation hold;
    if (m_fd >= 0)
        close(m_fd);
}

void EventFd::Set() const
{
    // The counter only grows towards its limit, where a write would fail: the
    // signal is then set already.
    const NoCancellation hold;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(m_fd, &one, sizeof one);
}

bool EventFd::Take() const
{
    // One read empties the whole counter, so repeated Sets still make one signal.
    const NoCancellation hold;
    uint64_t count = 0;
    return read(m_fd, &count, sizeof count) == sizeof count;
}

}  // namespace rz::kernel
