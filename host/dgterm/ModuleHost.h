// What every command but the option parsing needs, built in order: the module
// loaded, a host window bound to it, the station. Torn down in reverse, so the
// window is gone before the module unloads.
#pragma once

#include <optional>
#include <string>

#include "HostWindow.h"
#include "Module.h"
#include "Station.h"

namespace rz::dgterm {

class ModuleHost {
public:
    ModuleHost(const std::string& modulePath, ModuleEvents& events);

    // False, with the reason on stderr, when the module did not load.
    bool Loaded() const;
    // Selects the mode named `modeName` and starts the card on `device` (a
    // name, or part of one, from --list; "" the default); an exit code for main,
    // with the reason on stderr, when that (or loading) failed.
    std::optional<int> Start(const std::string& modeName, const std::string& device, bool receive);

    Module module;
    HostWindow window;
    std::optional<Station> station;
};

}  // namespace rz::dgterm
