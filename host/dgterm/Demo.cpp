// dgterm --demo: RTTY through the loopback card, the waterfall and the decoded
// text live; success when the receiver decodes exactly what was sent.
#include <cstdio>
#include <cstdlib>

#include "Commands.h"
#include "ModuleHost.h"
#include "Session.h"
#include "Settings.h"

namespace rz::dgterm {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kDemoMode = "RTTY";
constexpr const char* kDemoMessage = "RYRYRY CQ CQ DE RUZADA RUZADA K\r\n";
// Time for the message (about 6 s of audio) to play, cross the cable and be
// decoded, with room for a busy machine.
constexpr auto kDemoLimit = std::chrono::seconds(18);
// How long a person gets to see the result on a terminal.
constexpr auto kResultShown = std::chrono::seconds(2);
constexpr std::chrono::milliseconds kStep{50};

// Runs the session until `done`, the limit, or the user quits.
template <class Done>
void RunUntil(Session& session, Clock::time_point limit, Done done)
{
    while (!done() && !session.QuitRequested() && Clock::now() < limit)
        session.Step(kStep);
}

// The text with its line ends visible, for the verdict.
std::string Shown(const std::string& text)
{
    std::string shown;
    for (char ch : text)
        shown += ch == '\r' ? "\\r" : ch == '\n' ? "\\n" : std::string(1, ch);
    return shown;
}

}  // namespace

int RunDemo(const Options& options, TerminationSignals& signals)
{
    // The same everywhere, sound card or not.
    setenv("RUZADA_AUDIODRIVER", "loopback", 1);
    SettingsFile settings(kDemoMode, {}, true);
    Status status;
    status.mode = kDemoMode;
    status.driver = SoundDriverName();
    status.spectrumOn = settings.SpectrumOn();
    Session session(&signals, status);
    ModuleHost host(options.modulePath, session);
    if (const auto failed = host.Start(kDemoMode, "", true))
        return *failed;
    std::unique_ptr<Screen> screen = MakeScreen({false});
    session.Bind(*host.station, host.window, *screen);

    const std::string message = kDemoMessage;
    session.Send(message);
    RunUntil(session, Clock::now() + kDemoLimit, [&] { return session.Received().size() >= message.size(); });
    const bool matched = session.Received() == message;
    if (screen->Watched()) {
        screen->ShowNotice(matched ? "Decoded what was sent." : "The decoded text differs from what was sent.");
        RunUntil(session, Clock::now() + kResultShown, [] { return false; });
    }
    session.Close();
    screen.reset();
    if (matched) {
        std::fprintf(stderr, "dgterm: demo passed: the receiver decoded what was sent\n");
        return kExitOk;
    }
    std::fprintf(stderr, "dgterm: demo failed: sent \"%s\", decoded \"%s\"\n", Shown(message).c_str(),
                 Shown(session.Received()).c_str());
    return kExitFailure;
}

}  // namespace rz::dgterm
