#include "Rig.h"

#include <cstdio>

#include <ruzada/wave.h>

#include "Options.h"

Rig::Rig(const std::string& modulePath, ModuleEvents& events) : module(modulePath), window(events)
{
    if (module.Loaded())
        station.emplace(module, window);
}

bool Rig::Loaded() const
{
    if (!module.Loaded())
        std::fprintf(stderr, "dgterm: cannot load %s: %s\n", module.Path().c_str(), module.Error().c_str());
    return module.Loaded();
}

std::optional<int> Rig::Start(const std::string& modeName, int device, bool receive)
{
    if (!Loaded())
        return kExitFailure;
    const uint64_t mode = station->FindMode(modeName);
    if (mode == 0) {
        std::string names;
        for (const ModeInfo& info : station->Modes())
            names += (names.empty() ? "" : ", ") + info.name;
        std::fprintf(stderr, "dgterm: no mode named %s (the modes here: %s)\n", modeName.c_str(),
                     names.empty() ? "none" : names.c_str());
        return kExitUsage;
    }
    // The module would quietly take the default device for one it does not have.
    if (const UINT devices = waveInGetNumDevs(); device < -1 || device >= static_cast<int>(devices)) {
        std::fprintf(stderr, "dgterm: no sound device %d: the %s driver has %u (see --list)\n", device,
                     SoundDriverName().c_str(), devices);
        return kExitUsage;
    }
    std::string error;
    if (!station->Start(mode, device, receive, error)) {
        std::fprintf(stderr, "dgterm: %s\n", error.c_str());
        return kExitFailure;
    }
    return std::nullopt;
}
