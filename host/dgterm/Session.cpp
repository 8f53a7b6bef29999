#include "Session.h"

#include <poll.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "Text.h"

namespace {

constexpr long kSquelchStepPercent = 5;
// While an over is sending, the module's progress is polled at this pace.
constexpr std::chrono::milliseconds kOverPoll{10};

}  // namespace

Session::Session(TerminationSignals* signals, Status status) : m_signals(signals), m_status(std::move(status)) {}

Session::~Session() { Close(); }

void Session::Bind(Station& station, HostWindow& window, Screen& screen, Ptt* ptt)
{
    m_station = &station;
    m_window = &window;
    m_screen = &screen;
    m_ptt = ptt;
    UpdateStatus();
}

void Session::Send(const std::string& text)
{
    if (m_over && m_over->CurrentPhase() == Over::Phase::Sending && m_over->Queued() + text.size() <= kMostQueued)
        m_over->Append(text);
    else if (m_waiting.size() + text.size() <= kMostQueued)
        m_waiting += text;
    else
        m_screen->ShowNotice("too much text waiting to be sent: a line was dropped");
    AdvanceOver();
}

void Session::Step(std::chrono::milliseconds limit)
{
    std::vector<pollfd> fds = {{m_window->QueueFd(), POLLIN, 0}};
    // Keys are always read (q must work); lines from a pipe wait while text
    // waits for the next over.
    const int inputFd = m_screen->Watched() || m_waiting.empty() ? m_screen->InputFd() : -1;
    if (inputFd >= 0)
        fds.push_back({inputFd, POLLIN, 0});
    const int signalFd = m_signals ? m_signals->Fd() : -1;
    if (signalFd >= 0)
        fds.push_back({signalFd, POLLIN, 0});
    const auto wait = m_over ? std::min(limit, kOverPoll) : limit;
    poll(fds.data(), fds.size(), static_cast<int>(wait.count()));

    m_window->Dispatch();
    for (const pollfd& fd : fds) {
        if (!(fd.revents & (POLLIN | POLLHUP | POLLERR)))
            continue;
        if (fd.fd == inputFd) {
            for (const Input& input : m_screen->ReadInput())
                Handle(input);
        } else if (fd.fd == signalFd && m_signals->Take()) {
            m_quit = true;
        }
    }
    AdvanceOver();
    UpdateStatus();
    m_screen->Refresh();
}

void Session::Handle(const Input& input)
{
    switch (input.kind) {
        case Input::Kind::Line:
            // A teleprinter line ends in CR LF.
            Send(input.line + "\r\n");
            break;
        case Input::Kind::SquelchUp:
            ChangeSquelch(kSquelchStepPercent);
            break;
        case Input::Kind::SquelchDown:
            ChangeSquelch(-kSquelchStepPercent);
            break;
        case Input::Kind::Quit:
            m_quit = true;
            break;
    }
}

void Session::ChangeSquelch(long stepPercent)
{
    Module& api = m_station->Api();
    const long percent = std::clamp(std::lround(api.GetDGSquelch() * 100.0) + stepPercent, 0L, 100L);
    // The module truncates to whole percent: half a percent over keeps 15 % from
    // turning into 14 %.
    api.SetDGSquelch((static_cast<double>(percent) + 0.5) / 100.0);
}

void Session::AdvanceOver()
{
    if (!m_station)
        return;
    if (m_over && m_over->Advance(Clock::now()) == Over::Phase::Done)
        m_over.reset();
    if (m_over || m_waiting.empty() || m_quit)
        return;
    m_over = std::make_unique<Over>(*m_station, m_ptt);
    m_screen->BeginOver();
    std::string error;
    if (!m_over->Begin(m_waiting, error)) {
        m_screen->ShowNotice(error);
        m_over.reset();
    }
    m_waiting.clear();
}

void Session::UpdateStatus()
{
    Module& api = m_station->Api();
    m_status.transmitting = m_over != nullptr;
    m_status.level = api.GetDGLevel();
    m_status.squelch = api.GetDGSquelch();
    m_screen->ShowStatus(m_status);
}

void Session::Close()
{
    if (m_station)
        m_station->Stop();
    m_over.reset();
    m_station = nullptr;
}

void Session::OnReceived(uint32_t ch)
{
    std::string text;
    AppendUtf8(ch, text);
    m_received += text;
    if (m_received.size() > kKeptReceived)
        m_received.erase(0, m_received.size() - kKeptReceived);
    m_screen->ShowReceived(text);
}

void Session::OnSent(uint32_t ch)
{
    std::string text;
    AppendUtf8(ch, text);
    m_screen->ShowSent(text);
}

void Session::OnSpectrum()
{
    Spectrum spectrum{};
    m_station->Api().GetDGFFTData(spectrum.data(), kSpectrumBins - 1, 0, kSpectrumBins - 1);
    m_screen->AddSpectrum(spectrum);
}
