#include "Station.h"

#include <strings.h>

#include <chrono>
#include <thread>

#include <ruzada/kernel.h>
#include <ruzada/wave.h>

#include "Text.h"

namespace rz::dgterm {
namespace {

using Clock = std::chrono::steady_clock;

constexpr double kCardOn = 8000.0;
// How long the transmit thread gets to run through what is queued, per round.
constexpr auto kDrainRound = std::chrono::milliseconds(300);
constexpr int kDrainRounds = 5;

// A device that does not open is reported by the module in a message box; the
// text becomes the reason Start gives.
int KeepMessageBoxText(HWND, const char* text, const char*, UINT, void* user)
{
    *static_cast<std::string*>(user) = text ? text : "";
    return IDOK;
}

}  // namespace

Station::Station(Module& module, HostWindow& window) : m_module(module) { m_module.InitDG(window.Handle()); }

Station::~Station() { Stop(); }

std::vector<ModeInfo> Station::Modes() const
{
    std::vector<ModeInfo> modes;
    const uint64_t available = m_module.EnumRUZadas();
    for (int bit = 0; bit < 64; ++bit) {
        const uint64_t mask = uint64_t{1} << bit;
        if (!(available & mask))
            continue;
        char name[256] = {};
        char file[4096] = {};
        m_module.GetRUZadaNameA(mask, name, sizeof name - 1);
        m_module.GetRUZadaFileNameA(mask, file, sizeof file - 1);
        modes.push_back({mask, name, file});
    }
    return modes;
}

uint64_t Station::FindMode(const std::string& name) const
{
    for (const ModeInfo& mode : Modes())
        if (strcasecmp(mode.name.c_str(), name.c_str()) == 0)
            return mode.mask;
    return 0;
}

std::string Station::ModeName(uint64_t mode) const
{
    char name[256] = {};
    m_module.GetRUZadaNameA(mode, name, sizeof name - 1);
    return name;
}

bool Station::Start(uint64_t mode, int device, bool receive, std::string& error)
{
    m_device = device;
    m_receive = receive;
    m_transmit = false;
    m_module.SetRUZada(mode);
    // Receive goes on before the card starts: what the card captures while
    // receive is off is dropped, and a recording read unpaced would lose its start.
    ApplySoundMode();
    std::string boxText;
    SetMessageBoxHandler(&KeepMessageBoxText, &boxText);
    m_running = m_module.SetDGFreq(kCardOn) != 0;
    SetMessageBoxHandler(nullptr, nullptr);
    if (!m_running) {
        error = "cannot open the sound card: " + OneLine(boxText);
        char reason[512] = {};
        if (GetWaveFailure(reason, sizeof reason))
            error += std::string(" (") + reason + ")";
    }
    return m_running;
}

void Station::SelectMode(uint64_t mode)
{
    if (m_running)
        m_module.SetRUZada(mode);
}

void Station::SetTransmit(bool on)
{
    m_transmit = on;
    if (m_running)
        ApplySoundMode();
}

void Station::ApplySoundMode() { m_module.SetDGSoundMode((m_transmit ? 1 : 0) | (m_receive ? 2 : 0), m_device); }

void Station::DiscardTransmission()
{
    if (!m_running)
        return;
    const auto drained = [&] {
        for (const auto end = Clock::now() + kDrainRound; Clock::now() < end;) {
            if (m_module.IsDGSendIdle())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return m_module.IsDGSendIdle() != 0;
    };
    // Closed, the card lets a character pass under way run through the queue;
    // open, it lets a new pass begin.
    for (int round = 0; m_transmit && round < kDrainRounds; ++round) {
        m_module.SetDGFreq(0.0);
        if (drained())
            break;
        m_module.SetDGFreq(kCardOn);
        if (drained())
            break;
    }
    SetTransmit(false);
    Reopen();
}

bool Station::Reopen()
{
    if (!m_running)
        return false;
    m_module.SetDGFreq(0.0);
    // A card that does not open again is the caller's to report.
    std::string unused;
    SetMessageBoxHandler(&KeepMessageBoxText, &unused);
    const bool opened = m_module.SetDGFreq(kCardOn) != 0;
    SetMessageBoxHandler(nullptr, nullptr);
    return opened;
}

void Station::Stop()
{
    if (!m_running)
        return;
    m_running = false;
    m_transmit = false;
    m_module.SetDGSoundMode(0, m_device);
    m_module.SetDGFreq(0.0);
    m_module.SetRUZada(0);
}

std::string SoundDriverName()
{
    char name[64] = {};
    GetWaveDriverName(name, sizeof name);
    return name;
}

}  // namespace rz::dgterm
