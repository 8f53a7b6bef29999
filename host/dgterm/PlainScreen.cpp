// The screen without a terminal: decoded text goes to stdout as it arrives,
// notices and the changes between receive and transmit to stderr, and each line
// read from stdin is sent.
#include <unistd.h>

#include <cstdio>

#include "PlainScreen.h"

namespace {

constexpr size_t kLongestLine = 1024;

}  // namespace

PlainScreen::PlainScreen(const ScreenSetup& setup) : m_inputFd(setup.takesInput ? STDIN_FILENO : -1) {}

void PlainScreen::ShowReceived(const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void PlainScreen::ShowStatus(const Status& status)
{
    if (status.transmitting != m_transmitting)
        std::fprintf(stderr, "dgterm: %s\n", status.transmitting ? "transmitting" : "receiving");
    if (m_squelch >= 0.0 && status.squelch != m_squelch)
        std::fprintf(stderr, "dgterm: squelch %.0f%%\n", status.squelch * 100.0);
    m_transmitting = status.transmitting;
    m_squelch = status.squelch;
}

void PlainScreen::ShowNotice(const std::string& text) { std::fprintf(stderr, "dgterm: %s\n", text.c_str()); }

std::vector<Input> PlainScreen::ReadInput()
{
    std::vector<Input> inputs;
    char buffer[4096];
    const ssize_t got = m_inputFd >= 0 ? read(m_inputFd, buffer, sizeof buffer) : 0;
    if (got <= 0) {
        // End of input: keep receiving until told to stop.
        m_inputFd = -1;
        return inputs;
    }
    m_pending.append(buffer, static_cast<size_t>(got));
    for (size_t end; (end = m_pending.find('\n')) != std::string::npos; m_pending.erase(0, end + 1)) {
        std::string line = m_pending.substr(0, end);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        inputs.push_back({Input::Kind::Line, line});
    }
    // Input that never ends a line still goes out, a line's worth at a time.
    for (; m_pending.size() >= kLongestLine; m_pending.erase(0, kLongestLine))
        inputs.push_back({Input::Kind::Line, m_pending.substr(0, kLongestLine)});
    return inputs;
}
