// The module's exports as a hostile host calls them: each input is a sequence of
// calls with arguments drawn from its bytes (null and made-up pointers, closed
// ports, negative and huge counts, NaN, every COM number, any mode mask), on the
// loopback sound card and on COM ports mapped to virtual ports and
// pseudo-terminals. The module is loaded once; each input ends by closing what it
// opened, so inputs do not depend on each other.
#include <dlfcn.h>
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include <DGSnapin.h>
#include <RUZada.h>
#include <ruzada/hostlink.h>
#include <ruzada/kernel.h>
#include <ruzada/virtualport.h>

#include "FuzzSupport.h"

namespace rz::fuzz {
namespace {

// Ports of COM numbers with no variable would be /dev/ttyS*, the machine's
// console: every number is mapped. Numbers divisible by kAbsentEvery name
// virtual ports that never exist; kPtyPorts are pseudo-terminals.
constexpr int kHighestCom = 255;
constexpr int kAbsentEvery = 16;
constexpr int kPtyPorts[] = {7, 8};
constexpr size_t kMaxCalls = 48;
// Opening a port and setting RTS by hand take 100 and 200 ms by design: a few of
// them per input keep the fuzzer at a useful pace.
constexpr int kMaxSlowCalls = 2;
constexpr size_t kBufferUnits = 4096;

struct Exports {
#define RZ_EXPORT(name) decltype(&::name) name = Resolve<decltype(&::name)>(#name);
    void* module = nullptr;
    template <class F>
    F Resolve(const char* name)
    {
        return reinterpret_cast<F>(RequireSymbol(module, name));
    }
    explicit Exports(void* handle) : module(handle) {}
    RZ_EXPORT(InitDG)
    RZ_EXPORT(DGSetRecv)
    RZ_EXPORT(DGSetXmit)
    RZ_EXPORT(DGRequestComPort)
    RZ_EXPORT(DGRefreshSettings)
    RZ_EXPORT(GetDGVersion)
    RZ_EXPORT(GetDGSoundCount)
    RZ_EXPORT(EnumRUZadas)
    RZ_EXPORT(SetRUZada)
    RZ_EXPORT(GetRUZada)
    RZ_EXPORT(GetRUZadaNameW)
    RZ_EXPORT(GetRUZadaNameA)
    RZ_EXPORT(GetRUZadaFileNameW)
    RZ_EXPORT(GetRUZadaFileNameA)
    RZ_EXPORT(InvokeRUZadaFunc)
    RZ_EXPORT(InvokeRUZadaSetup)
    RZ_EXPORT(GetDGToolbarWnd)
    RZ_EXPORT(InvokeDGCommand)
    RZ_EXPORT(SendDGCharW)
    RZ_EXPORT(SendDGCharA)
    RZ_EXPORT(IsDGSendIdle)
    RZ_EXPORT(SetDGFreq)
    RZ_EXPORT(GetDGFreq)
    RZ_EXPORT(SetDGSoundMode)
    RZ_EXPORT(GetDGLevel)
    RZ_EXPORT(SetDGSquelch)
    RZ_EXPORT(GetDGSquelch)
    RZ_EXPORT(GetDGFFTData)
    RZ_EXPORT(DGOpenComPort)
    RZ_EXPORT(DGCloseComPort)
    RZ_EXPORT(DGReadComPort)
    RZ_EXPORT(DGWriteComPort)
    RZ_EXPORT(DGEnablePortRTS)
    RZ_EXPORT(DGSetRTS)
#undef RZ_EXPORT
};

struct Host {
    Exports* dg = nullptr;
    HWND window = nullptr;
    UINT requestCom = 0;
    LRESULT comAnswer = 0;  // what the window answers to "DG_REQUESTCOM"
    // COM number to pseudo-terminal; the slave side is held open, so that the
    // terminal outlives each port opened on it.
    struct Pty {
        int master;
        int slave;
    };
    std::map<int, Pty> ptys;
};

Host& TheHost()
{
    static Host host;
    return host;
}

LRESULT HostWindow(HWND, UINT message, WPARAM, LPARAM)
{
    return message == TheHost().requestCom ? TheHost().comAnswer : 0;
}

std::string VirtualName(int com) { return "com" + std::to_string(com); }

enum class Device { Pty, Virtual, Absent };

Device DeviceOf(int com)
{
    if (std::find(std::begin(kPtyPorts), std::end(kPtyPorts), com) != std::end(kPtyPorts))
        return Device::Pty;
    return com % kAbsentEvery == 0 ? Device::Absent : Device::Virtual;
}

void MapComPorts(Host& host)
{
    for (int com = 1; com <= kHighestCom; ++com) {
        std::string path;
        switch (DeviceOf(com)) {
            case Device::Pty: {
                const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
                if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
                    Fail("no pseudo-terminal");
                path = ptsname(master);
                host.ptys[com] = {master, open(path.c_str(), O_RDWR | O_NOCTTY)};
                break;
            }
            case Device::Virtual:
                VirtualPortCreate(VirtualName(com).c_str());
                path = "virtual:" + VirtualName(com);
                break;
            case Device::Absent:
                path = "virtual:absent" + std::to_string(com);
                break;
        }
        setenv(("RUZADA_COM" + std::to_string(com)).c_str(), path.c_str(), 1);
    }
}

int IgnoreMessageBox(HWND, const char*, const char*, UINT, void*) { return 1; }

double PickDouble(FuzzedDataProvider& data)
{
    static constexpr double kEdges[] = {0.0,
                                        0.5,
                                        8000.0,
                                        48000.0,
                                        -1.0,
                                        -8000.0,
                                        1e300,
                                        std::numeric_limits<double>::quiet_NaN(),
                                        std::numeric_limits<double>::infinity(),
                                        -std::numeric_limits<double>::infinity(),
                                        std::numeric_limits<double>::denorm_min()};
    return data.ConsumeBool() ? data.PickValueInArray(kEdges) : data.ConsumeFloatingPoint<double>();
}

// Counts and lengths: the edges of int and a few small values, or anything up to
// what the buffer holds (more would be the host's own overflow).
int PickCount(FuzzedDataProvider& data, int bufferUnits)
{
    static constexpr int kEdges[] = {0, 1, -1, 2, 64, std::numeric_limits<int>::min(), -65536};
    return data.ConsumeBool() ? data.PickValueInArray(kEdges) : data.ConsumeIntegralInRange(-100, bufferUnits);
}

uint64_t PickMode(FuzzedDataProvider& data, Exports& dg)
{
    switch (data.ConsumeIntegralInRange(0, 3)) {
        case 0:
            return dg.EnumRUZadas();
        case 1:
            return uint64_t{1} << data.ConsumeIntegralInRange(0, 63);
        case 2:
            return 0;
        default:
            return data.ConsumeIntegral<uint64_t>();
    }
}

// A mode's name or file name, into the buffer, a tiny length of it, or null.
template <class Char>
void AskName(FuzzedDataProvider& data, Exports& dg, std::array<Char, kBufferUnits>& buffer,
             void (*name)(uint64_t, Char*, UINT), void (*fileName)(uint64_t, Char*, UINT))
{
    const uint64_t mode = PickMode(data, dg);
    const UINT len = data.ConsumeBool() ? kBufferUnits : data.ConsumeIntegralInRange<UINT>(0, 3);
    Char* into = data.ConsumeBool() ? buffer.data() : nullptr;
    (data.ConsumeBool() ? name : fileName)(mode, into, len);
}

// The ports a call may be given: open ones, closed ones, made-up ones and null.
class Ports {
public:
    CCOMPort* Pick(FuzzedDataProvider& data)
    {
        switch (data.ConsumeIntegralInRange(0, 3)) {
            case 0:
                return m_open.empty() ? nullptr : m_open[data.ConsumeIntegralInRange<size_t>(0, m_open.size() - 1)];
            case 1:
                return m_closed.empty() ? nullptr
                                        : m_closed[data.ConsumeIntegralInRange<size_t>(0, m_closed.size() - 1)];
            case 2:
                return reinterpret_cast<CCOMPort*>(data.ConsumeIntegral<uintptr_t>());
            default:
                return nullptr;
        }
    }
    void Opened(CCOMPort* port)
    {
        if (port)
            m_open.push_back(port);
    }
    void Closed(CCOMPort* port)
    {
        const auto found = std::find(m_open.begin(), m_open.end(), port);
        if (found != m_open.end()) {
            m_open.erase(found);
            m_closed.push_back(port);
        }
    }
    void CloseAll(Exports& dg)
    {
        for (CCOMPort* port : m_open)
            dg.DGCloseComPort(port);
        m_open.clear();
        m_closed.clear();
    }

private:
    std::vector<CCOMPort*> m_open;
    std::vector<CCOMPort*> m_closed;
};

void DrainMessages()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&message);
}

// Empties what the pseudo-terminals hold both ways.
void FlushPtys(const Host& host)
{
    char sink[4096];
    for (const auto& [com, pty] : host.ptys) {
        tcflush(pty.slave, TCIOFLUSH);
        while (read(pty.master, sink, sizeof sink) > 0) {
        }
    }
}

// Every virtual port afresh: nothing queued, no line changes kept, none unplugged.
void RenewVirtualPorts()
{
    for (int com = 1; com <= kHighestCom; ++com) {
        if (DeviceOf(com) != Device::Virtual)
            continue;
        const std::string name = VirtualName(com);
        VirtualPortDestroy(name.c_str());
        VirtualPortCreate(name.c_str());
    }
}

// One call of the sequence; the others are numbered in place.
enum { kOpenPort = 19, kSetRts = 24, kLetThreadsRun = 27 };

void Call(FuzzedDataProvider& data, Host& host, Ports& ports, int& slowCalls)
{
    Exports& dg = *host.dg;
    static std::array<char16_t, kBufferUnits> wide;
    static std::array<char, kBufferUnits> narrow;
    static std::array<unsigned char, kBufferUnits> bytes;
    static std::array<int32_t, 1024> bins;
    int call = data.ConsumeIntegralInRange(0, 27);
    if ((call == kOpenPort || call == kSetRts) && ++slowCalls > kMaxSlowCalls)
        call = kLetThreadsRun;
    switch (call) {
        case 0:
            dg.InitDG(data.ConsumeBool() ? host.window : reinterpret_cast<HWND>(data.ConsumeIntegral<uintptr_t>()));
            break;
        case 1:
            dg.DGSetRecv(data.ConsumeIntegral<BOOL>());
            break;
        case 2:
            dg.DGSetXmit(data.ConsumeIntegral<BOOL>());
            break;
        case 3:
            host.comAnswer = data.ConsumeIntegral<int32_t>();
            dg.DGRequestComPort();
            break;
        case 4:
            dg.DGRefreshSettings();
            dg.GetDGVersion();
            dg.GetDGSoundCount();
            break;
        case 5:
            dg.SetRUZada(PickMode(data, dg));
            dg.GetRUZada();
            break;
        case 6:
            AskName(data, dg, wide, dg.GetRUZadaNameW, dg.GetRUZadaFileNameW);
            break;
        case 7:
            AskName(data, dg, narrow, dg.GetRUZadaNameA, dg.GetRUZadaFileNameA);
            break;
        case 8: {
            const uint64_t mode = PickMode(data, dg);
            const int function = data.ConsumeBool() ? data.ConsumeIntegralInRange(0, 24) : data.ConsumeIntegral<int>();
            dg.InvokeRUZadaFunc(mode, function, data.ConsumeIntegral<uint32_t>(), data.ConsumeIntegral<uint32_t>());
            break;
        }
        case 9:
            dg.InvokeRUZadaSetup(PickMode(data, dg));
            break;
        case 10:
            dg.GetDGToolbarWnd(data.ConsumeIntegral<uint32_t>(), data.ConsumeIntegral<uint32_t>(),
                               data.ConsumeIntegral<uint32_t>());
            break;
        case 11:
            dg.InvokeDGCommand(data.ConsumeBool() ? DG_CONTROL_READ | data.ConsumeIntegralInRange(0, 20)
                                                  : data.ConsumeIntegral<uint32_t>());
            break;
        case 12:
            for (const char c : data.ConsumeRandomLengthString(40))
                dg.SendDGCharA(c);
            break;
        case 13:
            for (int n = data.ConsumeIntegralInRange(0, 40); n > 0; --n)
                dg.SendDGCharW(data.ConsumeIntegral<WORD>());
            break;
        case 14:
            dg.IsDGSendIdle();
            dg.GetDGFreq();
            dg.GetDGLevel();
            dg.GetDGSquelch();
            break;
        case 15:
            dg.SetDGFreq(PickDouble(data));
            break;
        case 16:
            dg.SetDGSoundMode(data.ConsumeIntegral<int>(),
                              data.ConsumeBool() ? data.ConsumeIntegralInRange(-2, 2) : data.ConsumeIntegral<int>());
            break;
        case 17:
            dg.SetDGSquelch(PickDouble(data));
            break;
        case 18:
            dg.GetDGFFTData(data.ConsumeBool() ? bins.data() : nullptr, data.ConsumeIntegral<int>(),
                            data.ConsumeIntegral<int>(), data.ConsumeIntegral<int>());
            break;
        case kOpenPort: {
            const int com =
                data.ConsumeBool() ? data.ConsumeIntegralInRange(0, kHighestCom + 1) : data.ConsumeIntegral<int>();
            host.comAnswer = data.ConsumeIntegralInRange(-1, kHighestCom + 1);
            ports.Opened(dg.DGOpenComPort(com, data.ConsumeIntegral<int>(), data.ConsumeIntegral<int>(),
                                          data.ConsumeIntegral<int>(), data.ConsumeIntegral<uint32_t>()));
            break;
        }
        case 20: {
            CCOMPort* port = ports.Pick(data);
            dg.DGCloseComPort(port);
            ports.Closed(port);
            break;
        }
        case 21: {
            CCOMPort* port = ports.Pick(data);
            const bool real = data.ConsumeBool();
            // A huge capacity is fair: the module copies no more than it has.
            const int capacity = data.ConsumeBool() ? std::numeric_limits<int>::max() : PickCount(data, kBufferUnits);
            dg.DGReadComPort(port, real ? bytes.data() : nullptr, real ? capacity : PickCount(data, kBufferUnits));
            break;
        }
        case 22: {
            CCOMPort* port = ports.Pick(data);
            const std::vector<unsigned char> sent =
                data.ConsumeBytes<unsigned char>(data.ConsumeIntegralInRange(0, 64));
            const bool real = data.ConsumeBool();
            dg.DGWriteComPort(port, real ? sent.data() : nullptr,
                              real ? PickCount(data, static_cast<int>(sent.size())) : PickCount(data, 0));
            break;
        }
        case 23:
            dg.DGEnablePortRTS(ports.Pick(data), data.ConsumeIntegral<BOOL>());
            break;
        case kSetRts:
            dg.DGSetRTS(ports.Pick(data), data.ConsumeIntegral<BOOL>());
            break;
        case 25: {
            const int com = data.ConsumeIntegralInRange(1, kHighestCom);
            const std::string line = data.ConsumeRandomLengthString(256);
            if (DeviceOf(com) == Device::Pty) {
                (void)!write(host.ptys[com].master, line.data(), line.size());
            } else if (data.ConsumeBool()) {
                VirtualPortFeed(VirtualName(com).c_str(), line.data(), line.size());
            } else {
                VirtualPortSendBreak(VirtualName(com).c_str());
            }
            break;
        }
        case 26: {
            // An adapter unplugged; it comes back at the end of the input.
            const int com = data.ConsumeIntegralInRange(1, kHighestCom);
            if (DeviceOf(com) == Device::Virtual)
                VirtualPortHangUp(VirtualName(com).c_str());
            break;
        }
        default:
            // Lets the module's threads run between calls.
            Sleep(data.ConsumeIntegralInRange(0, 5));
            DrainMessages();
            break;
    }
}

}  // namespace
}  // namespace rz::fuzz

using namespace rz::fuzz;

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const std::filesystem::path bin = ExecutableDir();
    UseScratchSettings("[RUZada]\nUseFFT=1\n");
    setenv("RUZADA_AUDIODRIVER", "loopback", 1);
    SetMessageBoxHandler(IgnoreMessageBox, nullptr);
    Host& host = TheHost();
    MapComPorts(host);
    KeepSnapinsLoaded(bin);
    void* module = dlopen((bin / "RUZada.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module)
        Fail(dlerror());
    host.dg = new Exports(module);
    host.requestCom = RegisterWindowMessageA("DG_REQUESTCOM");
    host.window = CreateHostWindow(HostWindow, nullptr);
    host.dg->InitDG(host.window);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    FuzzedDataProvider data(bytes, size);
    Host& host = TheHost();
    Exports& dg = *host.dg;
    Ports ports;
    int slowCalls = 0;
    for (size_t call = 0; call < kMaxCalls && data.remaining_bytes() > 0; ++call)
        Call(data, host, ports, slowCalls);
    ports.CloseAll(dg);
    dg.SetDGSoundMode(0, -1);
    dg.SetDGFreq(0.0);
    dg.SetDGSquelch(0.0);
    dg.SetRUZada(0);
    dg.InitDG(host.window);
    DrainMessages();
    RenewVirtualPorts();
    FlushPtys(host);
    return 0;
}
