#include "Signals.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace rz::dgterm {

namespace {

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
    m_fd = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
}

TerminationSignals::~TerminationSignals()
{
    // The signals stay blocked: one that comes while dgterm shuts down must not
    // cut the shutdown short.
    if (m_fd >= 0)
        close(m_fd);
}

bool TerminationSignals::Take()
{
    signalfd_siginfo info;
    return m_fd >= 0 && read(m_fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info);
}

}  // namespace rz::dgterm
