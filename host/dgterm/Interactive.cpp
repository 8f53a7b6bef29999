// dgterm --mode NAME: receive and transmit in one screen until q or Ctrl-C.
#include <cstdio>
#include <cstdlib>

#include "Commands.h"
#include "ModuleHost.h"
#include "Session.h"
#include "Settings.h"

namespace rz::dgterm {
namespace {

constexpr std::chrono::milliseconds kStep{100};

int Fail(const std::string& error)
{
    std::fprintf(stderr, "dgterm: %s\n", error.c_str());
    return kExitFailure;
}

// Without RUZADA_AUDIODRIVER the platform takes the loopback card when it finds
// no sound device: a station that hears only itself must say so.
std::string DeviceNotice()
{
    const char* chosen = std::getenv("RUZADA_AUDIODRIVER");
    if ((chosen && *chosen) || SoundDriverName() != "loopback")
        return "";
    return "no sound device found: the loopback card hears only what dgterm sends";
}

}  // namespace

int RunSession(const Options& options, TerminationSignals& signals)
{
    SettingsFile settings(options.mode, options.settings);
    Log log(options.logPath);
    std::string error;
    if (!log.Open(error))
        return Fail(error);
    std::unique_ptr<Rig> rig;
    if (options.rigModel && !(rig = Rig::Open(options.rigModel, options.rigPort, error)))
        return Fail(error);
    std::unique_ptr<SerialPtt> serialPtt;
    if (options.pttComPort && !(serialPtt = SerialPtt::Open(options.pttComPort, options.pttLine, error)))
        return Fail(error);
    Keyer* keyer = options.pttCat ? static_cast<Keyer*>(rig.get()) : serialPtt.get();

    Status status;
    status.mode = options.mode;
    status.limiter = options.limiter;
    status.spectrumOn = settings.SpectrumOn();
    status.driver = SoundDriverName();
    status.device = DeviceNotice();
    if (!status.device.empty())
        std::fprintf(stderr, "dgterm: %s (choose a driver with RUZADA_AUDIODRIVER)\n", status.device.c_str());
    Session session(&signals, status);
    ModuleHost host(options.modulePath, session);
    if (const auto failed = host.Start(options.mode, options.device, true))
        return *failed;
    // The module keeps whole percent, cut down: half a percent over keeps 40 % from becoming 39 %.
    host.module.SetDGSquelch(options.limiter > 0.0 ? options.limiter + 0.005 : 0.0);
    ModeControl control(host.module);
    if (options.carrierHz && !control.SetCarrier(*options.carrierHz))
        std::fprintf(stderr, "dgterm: %s does not take --carrier: it has no run-time controls\n", options.mode.c_str());

    StationSettings station = ReadStationSettings();
    if (!options.myCall.empty())
        station.myCall = options.myCall;
    const std::unique_ptr<Screen> screen = MakeScreen({true});
    session.Bind(*host.station, host.window, *screen,
                 {keyer, {options.pttLead, options.pttTail}, rig.get(), &log, station});
    while (!session.QuitRequested())
        session.Step(kStep);
    session.Close();
    return kExitOk;
}

}  // namespace rz::dgterm
