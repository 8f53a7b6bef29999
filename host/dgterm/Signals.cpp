#include "Signals.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

namespace rz::dgterm {

namespace {

// Time enough for an orderly end: unkeying, closing the card, and the module's
// unload, which waits up to two seconds for its threads.
constexpr std::chrono::milliseconds kOrderlyEnd{10000};

sigset_t TerminationSet()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

}  // namespace

TerminationSignals::TerminationSignals()
{
    const sigset_t set = TerminationSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    m_signals = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    m_requested = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    m_ending = eventfd(0, EFD_CLOEXEC);
    if (m_signals >= 0 && m_requested >= 0 && m_ending >= 0)
        m_watcher = std::thread([this] { Watch(); });
}

TerminationSignals::~TerminationSignals()
{
    // The signals stay blocked: one that comes while dgterm shuts down must not
    // cut the shutdown short.
    if (m_watcher.joinable()) {
        eventfd_write(m_ending, 1);
        m_watcher.join();
    }
    for (const int fd : {m_signals, m_requested, m_ending}) {
        if (fd >= 0)
            close(fd);
    }
}

bool TerminationSignals::Take()
{
    eventfd_t count = 0;
    return m_requested >= 0 && eventfd_read(m_requested, &count) == 0;
}

void TerminationSignals::Watch()
{
    using Clock = std::chrono::steady_clock;
    pollfd fds[] = {{m_signals, POLLIN, 0}, {m_ending, POLLIN, 0}};
    int first = 0;
    Clock::time_point deadline;
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        poll(fds, 2, first ? static_cast<int>(std::max<long>(left.count(), 0)) : -1);
        if (fds[1].revents & POLLIN)
            return;
        // Still here: the shutdown hangs, and nothing of it can be trusted to run.
        if (first && Clock::now() >= deadline)
            _exit(128 + first);
        signalfd_siginfo info;
        if (read(m_signals, &info, sizeof info) == static_cast<ssize_t>(sizeof info) && !first) {
            first = static_cast<int>(info.ssi_signo);
            deadline = Clock::now() + kOrderlyEnd;
            eventfd_write(m_requested, 1);
        }
    }
}

}  // namespace rz::dgterm
