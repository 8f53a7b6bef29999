// Ctrl-C and the other requests to end, as a descriptor to poll: dgterm then
// unkeys, stops the card and unloads the module in order. A shutdown that does
// not end (a device call that never returns) does not keep dgterm alive: a
// watcher thread ends the process once a request has gone unanswered too long.
#pragma once

#include <thread>

namespace rz::dgterm {

class TerminationSignals {
public:
    // Blocks SIGINT, SIGTERM and SIGHUP in the calling thread and every thread it
    // creates afterwards (the module's included), for good: create it before
    // loading the module.
    TerminationSignals();
    ~TerminationSignals();
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

    int Fd() const { return m_requested; }
    // Takes a pending request; true when there was one.
    bool Take();

private:
    void Watch();

    int m_signals = -1;    // the signals as they come
    int m_requested = -1;  // counts the requests the main loop has not taken
    int m_ending = -1;     // dgterm ends by itself: the watcher stops
    std::thread m_watcher;
};

}  // namespace rz::dgterm
