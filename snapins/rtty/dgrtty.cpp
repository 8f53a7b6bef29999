// The RTTY snap-in: mask 32, "RTTY". One transmitter and one receiver, built
// from the settings by InitRUZada (or by the first codec call without it).
#include <DGSnapin.h>
#include <ruzada/kernel.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <optional>
#include <type_traits>

#include "baudot.h"
#include "rtty_receiver.h"
#include "rtty_tones.h"
#include "rtty_transmitter.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint64_t kRttyMode = 32;
constexpr char16_t kRttyName[] = u"RTTY";
constexpr const char* kSettingsFile = "RUZada.ini";
constexpr const char* kSettingsSection = "RTTY";
// While transmitting, the module asks for audio at least every second; a longer
// pause means the transmitter was off and the next audio starts a new over.
constexpr auto kOverGap = std::chrono::seconds(2);

struct Modem {
    explicit Modem(rtty::Tones tones)
        : transmitter(tones)
        , receiver(tones)
    {
    }
    rtty::RttyTransmitter transmitter;
    rtty::RttyReceiver receiver;
    std::optional<Clock::time_point> lastTransmit;
};

// Codec calls never overlap, so the modem needs no lock; HasDGData runs on host
// threads and reads only this flag.
std::optional<Modem> g_modem;
std::atomic<bool> g_hasData{false};

rtty::Tones TonesFromProfile()
{
    const auto read = [](const char* key, int fallback) {
        return static_cast<int>(GetPrivateProfileIntA(kSettingsSection, key, fallback, kSettingsFile));
    };
    return rtty::TonesFromSettings(read("MarkFrequency", rtty::kDefaultMarkHz), read("Shift", rtty::kDefaultShiftHz),
                                   read("Reverse", 0) != 0);
}

Modem& CurrentModem()
{
    if (!g_modem)
        g_modem.emplace(TonesFromProfile());
    return *g_modem;
}

rtty::RttyTransmitter& TransmitterForNow()
{
    Modem& modem = CurrentModem();
    const Clock::time_point now = Clock::now();
    if (!modem.lastTransmit || now - *modem.lastTransmit > kOverGap)
        modem.transmitter.BeginOver();
    modem.lastTransmit = now;
    return modem.transmitter;
}

template <typename Char>
char32_t Unit(Char ch)
{
    return static_cast<std::make_unsigned_t<Char>>(ch);
}

template <typename Char>
int Encode(int16_t* samples, int capacity, const Char* chars, int count)
{
    try {
        const bool bringsText = chars != nullptr && std::any_of(chars, chars + std::max(count, 0), [](Char ch) {
            return rtty::BaudotEncoder::Carries(Unit(ch));
        });
        if (!bringsText && !(g_modem && g_modem->transmitter.HasData()))
            return 0;
        rtty::RttyTransmitter& transmitter = TransmitterForNow();
        for (int i = 0; bringsText && i < count; ++i)
            transmitter.QueueChar(Unit(chars[i]));
        const int written = samples != nullptr ? transmitter.Render(samples, capacity) : 0;
        g_hasData = transmitter.HasData();
        return written;
    } catch (...) {
        return 0;
    }
}

template <typename Char>
int Decode(const int16_t* samples, int count, Char* chars, int capacity)
{
    try {
        rtty::RttyReceiver& receiver = CurrentModem().receiver;
        if (samples != nullptr)
            receiver.Process(samples, count);
        return chars != nullptr ? receiver.TakeText(chars, capacity) : 0;
    } catch (...) {
        return 0;
    }
}

} // namespace

DG_SNAPIN_EXPORT void GetDGSetup(DGSETUP* setup)
{
    if (setup == nullptr || setup->cbSize < DGSETUP_SIZE)
        return;
    std::memcpy(setup->szName, kRttyName, sizeof kRttyName);
    setup->qwMode = kRttyMode;
    setup->bNoSoundCard = FALSE;
    setup->bNoSoundOutput = FALSE;
    setup->bNoSoundInput = FALSE;
}

// Snap-in audio is 8000 samples per second whatever the card runs at, so the
// rate is not needed.
DG_SNAPIN_EXPORT void InitRUZada(double)
{
    try {
        g_modem.reset();
        g_hasData = false;
        CurrentModem();
    } catch (...) {
        g_modem.reset();
    }
}

DG_SNAPIN_EXPORT int GetDGTwiddle(int16_t* samples, int wanted)
{
    if (samples == nullptr || wanted <= 0)
        return 0;
    try {
        rtty::RttyTransmitter& transmitter = TransmitterForNow();
        const int written = transmitter.RenderIdle(samples, wanted);
        g_hasData = transmitter.HasData();
        return written;
    } catch (...) {
        return 0;
    }
}

DG_SNAPIN_EXPORT int HasDGData(void)
{
    return g_hasData ? 1 : 0;
}

DG_SNAPIN_EXPORT int EncodeDGDataW(int16_t* samples, int capacity, const char16_t* chars, int count)
{
    return Encode(samples, capacity, chars, count);
}

DG_SNAPIN_EXPORT int EncodeDGDataA(int16_t* samples, int capacity, const char* chars, int count)
{
    return Encode(samples, capacity, chars, count);
}

DG_SNAPIN_EXPORT int DecodeDGDataW(const int16_t* samples, int count, char16_t* chars, int capacity)
{
    return Decode(samples, count, chars, capacity);
}

DG_SNAPIN_EXPORT int DecodeDGDataA(const int16_t* samples, int count, char* chars, int capacity)
{
    return Decode(samples, count, chars, capacity);
}
