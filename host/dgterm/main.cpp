// dgterm: a terminal host for the RUZada mode module.
#include <chrono>
#include <clocale>
#include <cstdio>
#include <string>
#include <thread>

#include <CLI/CLI.hpp>
#include <ruzada/hostlink.h>
#include <ruzada/kernel.h>

#include "Module.h"

namespace {

struct Messages {
    UINT xmitRecv = RegisterWindowMessageA("DG_XMITRECV");
    int xmitRecvSeen = 0;
};

LRESULT HostProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* messages = static_cast<Messages*>(GetHostWindowUser(window));
    if (messages && message == messages->xmitRecv) {
        ++messages->xmitRecvSeen;
        std::printf("DG_XMITRECV  transmit %u  receive %d\n", wParam, lParam);
    }
    return 0;
}

void PrintDebugLine(const char* text, void*) { std::fprintf(stderr, "%s", text); }

void Pump(std::chrono::milliseconds span)
{
    const auto until = std::chrono::steady_clock::now() + span;
    MSG msg;
    while (std::chrono::steady_clock::now() < until) {
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// Loads the module, binds a window and shows what the module reports.
int RunDemo(const std::string& modulePath)
{
    SetDebugOutputHandler(&PrintDebugLine, nullptr);
    Messages messages;
    HWND window = CreateHostWindow(&HostProcedure, &messages);
    int status = 0;
    {
        Module module(modulePath);
        if (!module.Loaded()) {
            std::fprintf(stderr, "dgterm: cannot load %s: %s\n", module.Path().c_str(), module.Error().c_str());
            return 3;
        }
        std::printf("Module      %s\n", module.Path().c_str());
        std::printf("Interface   0x%08X\n", module.GetDGVersion());
        std::printf("Processor   %u (units of 2^20 cycles per second)\n", module.GetDGProcessorSpeedKHz());
        const uint64_t modes = module.InitDG(window);
        std::printf("Modes       0x%llx\n", static_cast<unsigned long long>(modes));
        for (int bit = 0; bit < 64; ++bit) {
            if (!(modes >> bit & 1))
                continue;
            char name[256];
            module.GetRUZadaNameA(uint64_t{1} << bit, name, sizeof name);
            std::printf("  0x%llx  %s\n", 1ull << bit, name);
        }
        module.DGSetXmit(1);
        module.DGSetRecv(1);
        Pump(std::chrono::milliseconds(100));
        if (messages.xmitRecvSeen != 2) {
            std::fprintf(stderr, "dgterm: expected two DG_XMITRECV reports, got %d\n", messages.xmitRecvSeen);
            status = 1;
        }
    }
    DestroyHostWindow(window);
    SetDebugOutputHandler(nullptr, nullptr);
    return status;
}

}  // namespace

int main(int argc, char** argv)
{
    CLI::App app{"dgterm: a terminal host for the RUZada digital-mode module"};
    app.set_version_flag("--version", std::string("dgterm ") + DGTERM_VERSION);
    std::string modulePath;
    bool demo = false;
    app.add_option("--module", modulePath, "RUZada.so to load (default: the one beside dgterm)");
    app.add_flag("--demo", demo, "load the module, bind a window and show what it reports");
    CLI11_PARSE(app, argc, argv);
    // Mode names and snap-in paths convert in the user's locale.
    std::setlocale(LC_ALL, "");
    if (!demo) {
        std::fprintf(stderr, "%s", app.help().c_str());
        return 2;
    }
    return RunDemo(modulePath);
}
