// dgterm --list: what a session can use on this machine, by the names that
// --mode, --device and --ptt take.
#include <cstdio>
#include <cstdlib>
#include <string>

#include <ruzada/wave.h>

#include "Commands.h"
#include "ModuleHost.h"

namespace rz::dgterm {
namespace {

constexpr int kHighestComPort = 255;

void PrintDevices(const char* direction, UINT count, MMRESULT (*name)(UINT, char*, UINT), int defaultDevice)
{
    std::printf("  %s\n", direction);
    for (UINT device = 0; device < count; ++device) {
        char text[256] = {};
        name(device, text, sizeof text);
        std::printf("    %s%s\n", text, static_cast<int>(device) == defaultDevice ? "  (default)" : "");
    }
}

// The device the driver's default (WAVE_MAPPER) opens: the one whose name the
// driver gives first among those PortAudio calls "default", else the first.
int DefaultDevice(UINT count, MMRESULT (*name)(UINT, char*, UINT))
{
    for (UINT device = 0; device < count; ++device) {
        char text[256] = {};
        name(device, text, sizeof text);
        if (std::string(text) == "default")
            return static_cast<int>(device);
    }
    return count > 0 ? 0 : -1;
}

}  // namespace

int RunList(const Options& options)
{
    IgnoredEvents events;
    ModuleHost host(options.modulePath, events);
    if (!host.Loaded())
        return kExitFailure;
    std::printf("Modes (--mode)\n");
    for (const ModeInfo& mode : host.station->Modes())
        std::printf("  %-12s %s\n", mode.name.c_str(), mode.file.c_str());

    std::printf("Sound devices (--device) of the %s driver (choose another with RUZADA_AUDIODRIVER)\n",
                SoundDriverName().c_str());
    PrintDevices("capture", waveInGetNumDevs(), &GetWaveInDeviceName,
                 DefaultDevice(waveInGetNumDevs(), &GetWaveInDeviceName));
    PrintDevices("playback", waveOutGetNumDevs(), &GetWaveOutDeviceName,
                 DefaultDevice(waveOutGetNumDevs(), &GetWaveOutDeviceName));

    std::printf("COM ports (--ptt)\n");
    for (int port = 1; port <= kHighestComPort; ++port) {
        const std::string variable = "RUZADA_COM" + std::to_string(port);
        if (const char* device = std::getenv(variable.c_str()))
            std::printf("  COM%-4d %s  (%s)\n", port, device, variable.c_str());
    }
    std::printf("  COMn    /dev/ttyS<n-1> unless RUZADA_COMn names a device\n");
    return kExitOk;
}

}  // namespace rz::dgterm
