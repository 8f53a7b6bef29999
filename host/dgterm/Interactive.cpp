// dgterm --mode NAME: receive and transmit in one screen until q or Ctrl-C.
#include <cstdio>

#include "Commands.h"
#include "Rig.h"
#include "Session.h"
#include "Settings.h"

namespace {

constexpr std::chrono::milliseconds kStep{100};

}  // namespace

int RunSession(const Options& options, TerminationSignals& signals)
{
    SettingsFile settings;
    const std::string ptt = options.comPort ? "COM" + std::to_string(options.comPort) : "";
    Session session(&signals, Status{options.mode, SoundDriverName(), ptt, false, 0.0, 0.0, settings.SpectrumOn()});
    Rig rig(options.modulePath, session);
    if (const auto failed = rig.Start(options.mode, options.device, true))
        return *failed;
    rig.window.SetComPort(options.comPort);
    std::optional<Ptt> keyer;
    if (options.comPort)
        keyer.emplace(rig.module, options.comPort);
    const std::unique_ptr<Screen> screen = MakeScreen({ModeTones(options.mode), true});
    session.Bind(*rig.station, rig.window, *screen, keyer ? &*keyer : nullptr);
    while (!session.QuitRequested())
        session.Step(kStep);
    session.Close();
    return kExitOk;
}
