// A binary signal on an eventfd: the descriptor polls readable while it is set.
// Kernel objects use it as their PollFd.
#pragma once

namespace rz::kernel {

class EventFd {
public:
    // A new descriptor, set or clear; Valid() is false (errno tells why) when the
    // system has none to give.
    explicit EventFd(bool set);
    ~EventFd();
    EventFd(const EventFd&) = delete;
    EventFd& operator=(const EventFd&) = delete;

    bool Valid() const { return m_fd >= 0; }
    int Fd() const { return m_fd; }

    void Set() const;
    // Clears the signal; true when it was set, so that of several takers racing
    // for one signal exactly one gets it.
    bool Take() const;

private:
    int m_fd;
};

}  // namespace rz::kernel
