// Ctrl-C and the other requests to end, as a descriptor to poll: dgterm then
// unkeys, stops the card and unloads the module in order.
#pragma once

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

    int Fd() const { return m_fd; }
    // Takes a pending signal; true when there was one.
    bool Take();

private:
    int m_fd = -1;
};

}  // namespace rz::dgterm
