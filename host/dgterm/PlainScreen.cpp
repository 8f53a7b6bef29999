// The screen without a terminal: decoded text goes to stdout as it arrives,
// notices and the changes between receive and transmit to stderr, and each line
// read from stdin is sent.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "PlainScreen.h"

namespace rz::dgterm {
namespace {

constexpr size_t kLongestLine = 1024;

bool SameFile(int first, int second)
{
    struct stat a = {};
    struct stat b = {};
    return fstat(first, &a) == 0 && fstat(second, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

PlainScreen::PlainScreen(const ScreenSetup& setup)
    : m_inputFd(setup.takesInput ? STDIN_FILENO : -1), m_sharedOutput(SameFile(STDOUT_FILENO, STDERR_FILENO))
{}

void PlainScreen::ShowReceived(const std::string& text)
{
    if (text.empty())
        return;
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
    m_lineOpen = text.back() != '\n';
}

void PlainScreen::ShowNotice(const std::string& text)
{
    if (m_sharedOutput && m_lineOpen) {
        std::fputc('\n', stderr);
        m_lineOpen = false;
    }
    std::fprintf(stderr, "dgterm: %s\n", text.c_str());
}

void PlainScreen::ShowOver(const OverText& over)
{
    if (!over.unsent.empty() && over.unsent != m_unsent)
        ShowNotice("stopped; not sent: " + over.unsent);
    m_unsent = over.unsent;
}

void PlainScreen::ShowStatus(const Status& status)
{
    if (status.transmitting != m_transmitting)
        ShowNotice(status.transmitting ? "transmitting" : "receiving");
    if (status.device != m_device && !status.device.empty())
        ShowNotice(status.device);
    m_transmitting = status.transmitting;
    m_device = status.device;
}

std::vector<Input> PlainScreen::ReadInput()
{
    std::vector<Input> inputs;
    char buffer[4096];
    const ssize_t got = m_inputFd >= 0 ? read(m_inputFd, buffer, sizeof buffer) : 0;
    if (got <= 0) {
        // End of input: what is left of a line goes too.
        if (!m_pending.empty())
            inputs.push_back({Input::Kind::Line, m_pending});
        m_pending.clear();
        m_inputEnded = m_inputFd >= 0;
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

}  // namespace rz::dgterm
