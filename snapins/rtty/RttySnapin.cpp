// The RTTY snap-in: mask 32, "RTTY". One transmitter and one receiver, built
// from the settings when the mode is selected (or by the first codec call), and
// retuned by the run-time controls at the start of each codec call.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <optional>

#include "Baudot.h"
#include "RttyConfig.h"
#include "RttyControl.h"
#include "RttyReceiver.h"
#include "RttyTransmitter.h"
#include "Settings.h"
#include "Snapin.h"

namespace rz::rtty {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kSettingsSection = "RTTY";
// While transmitting, the module asks for audio at least every second; a longer
// pause means the transmitter was off and the next audio starts a new over.
constexpr auto kOverGap = std::chrono::seconds(2);
// Without idle, the tail waits this long after the last text: the module asks
// for idle whenever its queue runs dry, also between two batches of one text,
// and only silence there keeps the text together.
constexpr auto kTailHold = std::chrono::milliseconds(200);

RttyConfig ConfigFromProfile()
{
    return ConfigFromSettings([](const char* key) -> std::optional<std::string> {
        const std::string text = snapin::SettingText(kSettingsSection, key, "");
        if (text.empty())
            return std::nullopt;
        return text;
    });
}

struct Modem {
    explicit Modem(const RttyConfig& config)
        : config(config),
          transmitter(config.ToTones(), config.ToTiming()),
          receiver(config.ToTones(), config.ToTiming(), config.unshiftOnSpace)
    {
        transmitter.SetIdle(config.idle);
        receiver.SetAfc(config.afc);
        receiver.SetSquelch(config.squelch);
    }

    // Brings both directions to `next`, changing only what changed.
    void Apply(const RttyConfig& next)
    {
        if (next.ToTones() != config.ToTones()) {
            transmitter.SetTones(next.ToTones());
            receiver.SetTones(next.ToTones());
        }
        if (next.ToTiming() != config.ToTiming()) {
            transmitter.SetTiming(next.ToTiming());
            receiver.SetTiming(next.ToTiming());
        }
        transmitter.SetIdle(next.idle);
        receiver.SetAfc(next.afc);
        receiver.SetUnshiftOnSpace(next.unshiftOnSpace);
        receiver.SetSquelch(next.squelch);
        config = next;
    }

    RttyConfig config;
    RttyTransmitter transmitter;
    RttyReceiver receiver;
    std::optional<Clock::time_point> lastTransmit;
};

class RttyCodec final : public snapin::Codec {
public:
    void Restart() override
    {
        const RttyConfig config = ConfigFromProfile();
        m_control.Reset(config);
        m_modem.emplace(config);
        m_hasData = false;
    }

    int Twiddle(int16_t* samples, int wanted) override
    {
        Modem& modem = CurrentModem();
        if (!modem.config.idle && modem.transmitter.OnlyTailQueued() && m_lastText &&
            Clock::now() - *m_lastText < kTailHold)
            return 0;
        RttyTransmitter& transmitter = TransmitterForNow();
        const int written = transmitter.RenderIdle(samples, wanted);
        m_hasData = transmitter.HasData();
        return written;
    }

    int Encode(int16_t* samples, int capacity, const char32_t* chars, int count) override
    {
        Modem& modem = CurrentModem();
        const bool bringsText =
            std::any_of(chars, chars + count, [](char32_t ch) { return BaudotEncoder::Carries(ch); });
        if (!bringsText && !modem.transmitter.HasData())
            return 0;
        RttyTransmitter& transmitter = TransmitterForNow();
        for (int i = 0; bringsText && i < count; ++i)
            transmitter.QueueChar(chars[i]);
        if (bringsText)
            m_lastText = Clock::now();
        const int written = transmitter.Render(samples, capacity);
        m_hasData = transmitter.HasData();
        return written;
    }

    int Decode(const int16_t* samples, int count, char32_t* chars, int capacity) override
    {
        Modem& modem = CurrentModem();
        RttyReceiver& receiver = modem.receiver;
        if (count > 0) {
            receiver.Process(samples, count);
            m_control.Publish(static_cast<int32_t>(std::lround(receiver.TrackedCentreHz() * 10.0)), receiver.Quality());
        }
        return receiver.TakeText(chars, capacity);
    }

    bool HasData() const override { return m_hasData; }
    std::optional<int32_t> Read(int key) const override { return m_control.Read(key); }
    bool Write(int key, int32_t value) override { return m_control.Write(key, value); }

private:
    // The modem, built if need be, with the controls written since the last call.
    Modem& CurrentModem()
    {
        if (!m_modem)
            Restart();
        if (const std::optional<RttyConfig> written = m_control.TakeWrites())
            m_modem->Apply(*written);
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

    RttyControl m_control;
    std::optional<Modem> m_modem;
    std::optional<Clock::time_point> m_lastText;
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
