#include "Session.h"

#include <poll.h>

#include <algorithm>
#include <cmath>

#include <ruzada/wave.h>

#include "Text.h"

namespace rz::dgterm {
namespace {

constexpr int kSquelchStep = 5;
// While an over is sending, the module's progress is polled at this pace.
constexpr std::chrono::milliseconds kOverPoll{10};
// The rig's dial is read this often; each read is a round trip to the rig.
constexpr std::chrono::seconds kDialPace{2};
// A lost sound device is asked for again this often.
constexpr std::chrono::seconds kReopenPace{2};

// Where the decoder listens: RTTY's two tones, or the one carrier.
std::vector<double> ListeningTones(const Tuning& tuning)
{
    if (tuning.shiftHz)
        return {tuning.carrierHz - *tuning.shiftHz / 2.0, tuning.carrierHz + *tuning.shiftHz / 2.0};
    return {tuning.carrierHz};
}

}  // namespace

Session::Session(TerminationSignals* signals, Status status)
    : m_signals(signals), m_status(std::move(status)), m_deviceNotice(m_status.device)
{}

Session::~Session() { Close(); }

void Session::Bind(Station& station, HostWindow& window, Screen& screen, SessionGear gear)
{
    m_station = &station;
    m_window = &window;
    m_screen = &screen;
    m_gear = std::move(gear);
    m_control.emplace(station.Api());
    m_modes = station.Modes();
    m_mode = station.Api().GetRUZada();
    m_status.mode = station.ModeName(m_mode);
    if (m_gear.keyer)
        m_status.ptt = m_gear.keyer->Name();
    UpdateStatus();
}

void Session::Send(const std::string& text)
{
    const bool overTakesMore =
        m_over && (m_over->CurrentPhase() == Over::Phase::Keying || m_over->CurrentPhase() == Over::Phase::Sending);
    if (overTakesMore && m_over->Queued() + text.size() <= kMostQueued)
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
    WatchCard();
    AdvanceOver();
    // Plain lines from a pipe or file: done once they have all gone out.
    if (m_screen->InputEnded() && !m_over && m_waiting.empty())
        m_quit = true;
    UpdateStatus();
    m_screen->Refresh();
}

void Session::Handle(const Input& input)
{
    using Kind = Input::Kind;
    switch (input.kind) {
        case Kind::Line:
            // A teleprinter line ends in CR LF.
            Send(input.text + "\r\n");
            break;
        case Kind::Call:
            m_status.call = input.text;
            break;
        case Kind::Macro:
            SendMacro(static_cast<int>(input.value));
            break;
        case Kind::Tune:
            Tune(std::nullopt, input.value);
            break;
        case Kind::TuneTo:
            Tune(input.value, 0.0);
            break;
        case Kind::ToggleAfc:
            Toggle(DG_KEY_AFC, "AFC");
            break;
        case Kind::ToggleReverse:
            Toggle(DG_KEY_REVERSE, "reverse or sideband");
            break;
        case Kind::NextMode:
            NextMode();
            break;
        case Kind::SquelchUp:
            ChangeSquelch(kSquelchStep);
            break;
        case Kind::SquelchDown:
            ChangeSquelch(-kSquelchStep);
            break;
        case Kind::Abort:
            Abort();
            break;
        case Kind::Quit:
            m_quit = true;
            break;
    }
}

void Session::Tune(std::optional<double> toHz, double byHz)
{
    const std::optional<Tuning> tuning = m_control->Read();
    if (!tuning) {
        m_screen->ShowNotice(m_status.mode + " cannot be tuned from here: it has no run-time controls");
        return;
    }
    const double hz = std::clamp(toHz.value_or(tuning->carrierHz + byHz), 0.0, kSpectrumHz);
    if (!m_control->SetCarrier(hz))
        m_screen->ShowNotice(m_status.mode + " did not take the carrier " + std::to_string(std::lround(hz)) + " Hz");
}

void Session::Toggle(DGControlKey key, const char* what)
{
    if (!m_control->Available() || !m_control->Toggle(key))
        m_screen->ShowNotice(m_status.mode + " has no " + what + " to switch");
}

void Session::ChangeSquelch(int step)
{
    const std::optional<int32_t> squelch = m_control->Available() ? m_control->Read(DG_KEY_SQUELCH) : std::nullopt;
    if (!squelch) {
        m_screen->ShowNotice(m_status.mode + " has no squelch to set");
        return;
    }
    m_control->Write(DG_KEY_SQUELCH, std::clamp(*squelch + step, 0, 100));
}

void Session::NextMode()
{
    if (m_over) {
        m_screen->ShowNotice("the mode changes once the over has been sent");
        return;
    }
    if (m_modes.size() < 2)
        return;
    if (const std::optional<Tuning> tuning = m_control->Read())
        m_carriers[m_mode] = tuning->carrierHz;
    auto current = std::find_if(m_modes.begin(), m_modes.end(), [&](const ModeInfo& m) { return m.mask == m_mode; });
    const ModeInfo& next = current == m_modes.end() || current + 1 == m_modes.end() ? m_modes.front() : *(current + 1);
    m_station->SelectMode(next.mask);
    m_mode = next.mask;
    m_status.mode = next.name;
    if (const auto carrier = m_carriers.find(m_mode); carrier != m_carriers.end())
        m_control->SetCarrier(carrier->second);
    m_screen->ShowNotice("mode " + next.name);
}

void Session::SendMacro(int number)
{
    const std::string key = "F" + std::to_string(number + 1);
    const std::string& macro = m_gear.station.macros[number];
    if (macro.empty()) {
        m_screen->ShowNotice(key + " has no macro: set " + key + "= in section [Macros] of " + StationSettingsPath());
        return;
    }
    Send(ExpandMacro(macro, m_gear.station, m_status.call));
}

void Session::Abort()
{
    if (!m_over)
        return;
    const std::string sent = m_over->SentText();
    const std::string unsent = m_over->Abort() + m_waiting;
    m_waiting.clear();
    m_over.reset();
    if (m_gear.log)
        m_gear.log->Sent(sent, unsent, Context());
    m_screen->ShowOver({sent, "", unsent});
    // Characters the module ran through while its queue was dropped are
    // reported after the over has gone; they were never sent.
    m_window->Dispatch();
}

// A sound device that has gone (its server stopped, its plug pulled) runs on as
// silence: nothing may be keyed then, and the card is asked for again until it
// opens on the device that came back.
void Session::WatchCard()
{
    const Clock::time_point now = Clock::now();
    if (!m_cardLost && IsWaveDeviceLost()) {
        m_cardLost = true;
        m_nextReopen = now + kReopenPace;
        Abort();
        m_screen->ShowNotice("the sound device is lost: nothing is sent until it is back");
    } else if (m_cardLost && now >= m_nextReopen) {
        m_nextReopen = now + kReopenPace;
        if (m_station->Reopen() && !IsWaveDeviceLost()) {
            m_cardLost = false;
            m_screen->ShowNotice("the sound device is back");
        }
    }
    m_status.device = m_cardLost ? "sound device lost: asking for it again" : m_deviceNotice;
}

void Session::AdvanceOver()
{
    if (!m_station)
        return;
    if (m_over && m_over->Advance(Clock::now()) == Over::Phase::Done) {
        m_screen->ShowOver({m_over->SentText(), "", ""});
        if (m_gear.log)
            m_gear.log->Sent(m_over->SentText(), "", Context());
        m_over.reset();
    }
    if (m_over || m_waiting.empty() || m_quit || m_cardLost)
        return;
    m_over = std::make_unique<Over>(*m_station, m_gear.keyer, m_gear.timing);
    std::string error;
    if (!m_over->Begin(m_waiting, error)) {
        m_screen->ShowNotice(error);
        m_over.reset();
    }
    m_waiting.clear();
    ShowOver();
}

void Session::ShowOver()
{
    if (m_over)
        m_screen->ShowOver({m_over->SentText(), m_over->UnsentText(), ""});
}

void Session::UpdateStatus()
{
    Module& api = m_station->Api();
    m_status.transmitting = m_over != nullptr;
    m_status.level = api.GetDGLevel();
    m_status.tuning = m_control->Read();
    m_status.tones = m_status.tuning ? ListeningTones(*m_status.tuning) : std::vector<double>{};
    if (m_gear.rig && Clock::now() >= m_nextDialRead) {
        m_status.dialHz = m_gear.rig->DialHz();
        m_nextDialRead = Clock::now() + kDialPace;
    }
    m_screen->ShowStatus(m_status);
}

LogContext Session::Context() const
{
    return {m_status.mode, m_status.tuning ? std::optional(m_status.tuning->carrierHz) : std::nullopt, m_status.dialHz};
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
    if (m_gear.log)
        m_gear.log->Received(text, Context());
}

void Session::OnSent(uint32_t)
{
    if (!m_over)
        return;
    m_over->OnSent();
    ShowOver();
}

void Session::OnSpectrum()
{
    Spectrum spectrum{};
    m_station->Api().GetDGFFTData(spectrum.data(), kSpectrumBins - 1, 0, kSpectrumBins - 1);
    m_screen->AddSpectrum(spectrum);
}

}  // namespace rz::dgterm
