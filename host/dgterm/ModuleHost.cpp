#include "ModuleHost.h"

#include <cstdio>

#include <ruzada/wave.h>

#include "Options.h"

namespace rz::dgterm {
namespace {

// The capture device whose name is `wanted` or holds it (the module opens
// playback with the same number); -1 for "" and, with the reason in `error`,
// for a name that fits no device or more than one.
std::optional<int> FindDevice(const std::string& wanted, std::string& error)
{
    if (wanted.empty())
        return -1;
    std::optional<int> found;
    int matches = 0;
    for (UINT device = 0; device < waveInGetNumDevs(); ++device) {
        char name[256] = {};
        GetWaveInDeviceName(device, name, sizeof name);
        if (wanted == name)
            return static_cast<int>(device);
        if (std::string(name).find(wanted) != std::string::npos) {
            found = static_cast<int>(device);
            ++matches;
        }
    }
    if (matches == 1)
        return found;
    error = "the " + SoundDriverName() + " driver has " + (matches ? "several devices" : "no device") + " named " +
            wanted + " (see --list)";
    return std::nullopt;
}

}  // namespace

ModuleHost::ModuleHost(const std::string& modulePath, ModuleEvents& events) : module(modulePath), window(events)
{
    if (module.Loaded())
        station.emplace(module, window);
}

bool ModuleHost::Loaded() const
{
    if (!module.Loaded())
        std::fprintf(stderr, "dgterm: cannot load %s: %s\n", module.Path().c_str(), module.Error().c_str());
    return module.Loaded();
}

std::optional<int> ModuleHost::Start(const std::string& modeName, const std::string& device, bool receive)
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
    std::string error;
    // The module would quietly take the default device for one it does not have.
    const std::optional<int> number = FindDevice(device, error);
    if (!number) {
        std::fprintf(stderr, "dgterm: %s\n", error.c_str());
        return kExitUsage;
    }
    if (!station->Start(mode, *number, receive, error)) {
        std::fprintf(stderr, "dgterm: %s\n", error.c_str());
        return kExitFailure;
    }
    return std::nullopt;
}

}  // namespace rz::dgterm
