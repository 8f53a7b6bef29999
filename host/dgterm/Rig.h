// What every command but the option parsing needs, built in order: the module
// loaded, a host window bound to it, the station. Torn down in reverse, so the
// window is gone before the module unloads.
#pragma once

#include <optional>
#include <string>

#include "HostWindow.h"
#include "Module.h"
#include "Station.h"

class Rig {
public:
    Rig(const std::string& modulePath, ModuleEvents& events);

    // False, with the reason on stderr, when the module did not load.
    bool Loaded() const;
    // Selects the mode named `modeName` and starts the card; an exit code for
    // main, with the reason on stderr, when that (or loading) failed.
    std::optional<int> Start(const std::string& modeName, int device, bool receive);

    Module module;
    HostWindow window;
    std::optional<Station> station;
};
