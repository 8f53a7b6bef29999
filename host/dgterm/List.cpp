#include "List.h"

#include "Commands.h"
#include "Rig.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include <ruzada/wave.h>

namespace {

constexpr int kHighestComPort = 255;

void PrintDevices(const char* direction, UINT count, MMRESULT (*name)(UINT, char*, UINT))
{
    for (UINT device = 0; device < count; ++device) {
        char text[256] = {};
        name(device, text, sizeof text);
        std::printf("  %-8s %u  %s\n", direction, device, text);
    }
}

}  // namespace

void PrintStationList(const Station& station)
{
    std::printf("Modes\n");
    for (const ModeInfo& mode : station.Modes())
        std::printf("  0x%-8llx %-12s %s\n", static_cast<unsigned long long>(mode.mask), mode.name.c_str(),
                    mode.file.c_str());

    std::printf("Sound driver: %s (choose with RUZADA_AUDIODRIVER)\n", SoundDriverName().c_str());
    PrintDevices("capture", waveInGetNumDevs(), &GetWaveInDeviceName);
    PrintDevices("playback", waveOutGetNumDevs(), &GetWaveOutDeviceName);

    std::printf("COM ports\n");
    for (int port = 1; port <= kHighestComPort; ++port) {
        const std::string variable = "RUZADA_COM" + std::to_string(port);
        if (const char* device = std::getenv(variable.c_str()))
            std::printf("  COM%-4d %s  (%s)\n", port, device, variable.c_str());
    }
    std::printf("  COMn    /dev/ttyS<n-1> unless RUZADA_COMn names a device\n");
}

int RunList(const Options& options)
{
    IgnoredEvents events;
    Rig rig(options.modulePath, events);
    if (!rig.Loaded())
        return kExitFailure;
    PrintStationList(*rig.station);
    return kExitOk;
}
