// The RTTY snap-in: mask 32, "RTTY". One transmitter and one receiver, built
// from the settings when the mode is selected (or by the first codec call).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <optional>

#include "Settings.h"
#include "Snapin.h"
#include "baudot.h"
#include "rtty_receiver.h"
#include "rtty_tones.h"
#include "rtty_transmitter.h"

namespace rz::rtty {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kSettingsSection = "RTTY";
// While transmitting, the module asks for audio at least every second; a longer
// pause means the transmitter was off and the next audio starts a new over.
constexpr auto kOverGap = std::chrono::seconds(2);

Tones TonesFromProfile()
{
    const auto read = [](const char* key, int fallback) { return snapin::SettingInt(kSettingsSection, key, fallback); };
    return TonesFromSettings(read("MarkFrequency", kDefaultMarkHz), read("Shift", kDefaultShiftHz),
                             read("Reverse", 0) != 0);
}

struct Modem {
    explicit Modem(Tones tones) : transmitter(tones), receiver(tones) {}
    RttyTransmitter transmitter;
    RttyReceiver receiver;
    std::optional<Clock::time_point> lastTransmit;
};

class RttyCodec final : public snapin::Codec {
public:
    void Restart() override
    {
        m_modem.emplace(TonesFromProfile());
        m_hasData = false;
    }

    int Twiddle(int16_t* samples, int wanted) override
    {
        RttyTransmitter& transmitter = TransmitterForNow();
        const int written = transmitter.RenderIdle(samples, wanted);
        m_hasData = transmitter.HasData();
        return written;
    }

    int Encode(int16_t* samples, int capacity, const char32_t* chars, int count) override
    {
        const bool bringsText =
            std::any_of(chars, chars + count, [](char32_t ch) { return BaudotEncoder::Carries(ch); });
        if (!bringsText && !(m_modem && m_modem->transmitter.HasData()))
            return 0;
        RttyTransmitter& transmitter = TransmitterForNow();
        for (int i = 0; bringsText && i < count; ++i)
            transmitter.QueueChar(chars[i]);
        const int written = transmitter.Render(samples, capacity);
        m_hasData = transmitter.HasData();
        return written;
    }

    int Decode(const int16_t* samples, int count, char32_t* chars, int capacity) override
    {
        RttyReceiver& receiver = CurrentModem().receiver;
        if (count > 0)
            receiver.Process(samples, count);
        return receiver.TakeText(chars, capacity);
    }

    bool HasData() const override { return m_hasData; }
    std::optional<int32_t> Read(int) const override { return std::nullopt; }
    bool Write(int, int32_t) override { return false; }

private:
    Modem& CurrentModem()
    {
        if (!m_modem)
            Restart();
        return *m_modem;
    }

    RttyTransmitter& TransmitterForNow()
    {
        Modem& modem = CurrentModem();
        const Clock::time_point now = Clock::now();
        if (!modem.lastTransmit || now - *modem.lastTransmit > kOverGap)
            modem.transmitter.BeginOver();
        modem.lastTransmit = now;
        return modem.transmitter;
    }

    std::optional<Modem> m_modem;
    std::atomic<bool> m_hasData{false};
};

}  // namespace
}  // namespace rz::rtty

const rz::snapin::Mode rz::snapin::kMode{32, u"RTTY"};

rz::snapin::Codec& rz::snapin::TheCodec()
{
    static rz::rtty::RttyCodec codec;
    return codec;
}
