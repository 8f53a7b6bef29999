// The CW snap-in: mask 16, "CW". One keyer and one receiver, built from the
// settings when the mode is selected (or by the first codec call), tuned at run
// time through the control keys.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <optional>

#include "CwKeyer.h"
#include "CwReceiver.h"
#include "CwSettings.h"
#include "MorseCode.h"
#include "ReceiverReadout.h"
#include "Settings.h"
#include "Snapin.h"

namespace rz::cw {
namespace {

constexpr const char* kSettingsSection = "CW";

CwSettings SettingsFromProfile()
{
    const auto read = [](const char* key, int fallback) { return snapin::SettingInt(kSettingsSection, key, fallback); };
    return SettingsFromValues(read("Carrier", kDefaultCarrierHz), read("WPM", kDefaultWpm), read("Farnsworth", 0),
                              read("AFC", 1), read("Squelch", kDefaultSquelch));
}

int32_t Tenths(double hz) { return static_cast<int32_t>(std::lround(hz * 10.0)); }

struct Modem {
    explicit Modem(const CwSettings& s)
        : keyer(s.carrierHz, s.wpm, s.farnsworthWpm), receiver({s.carrierHz, s.afc, s.wpm, s.squelch})
    {}
    CwKeyer keyer;
    CwReceiver receiver;
};

class CwCodec final : public snapin::Codec {
public:
    void Restart() override
    {
        const CwSettings settings = SettingsFromProfile();
        m_readout.carrierTenths = Tenths(settings.carrierHz);
        m_wpm = settings.wpm;
        m_farnsworth = settings.farnsworthWpm;
        m_readout.afc = settings.afc;
        m_readout.squelch = settings.squelch;
        m_modem.emplace(settings);
        m_applied = m_changes.load();
        m_hasData = false;
        Publish();
    }

    int Twiddle(int16_t* samples, int wanted) override
    {
        CwKeyer& keyer = CurrentModem().keyer;
        const int written = keyer.RenderIdle(samples, wanted);
        m_hasData = keyer.HasData();
        return written;
    }

    int Encode(int16_t* samples, int capacity, const char32_t* chars, int count) override
    {
        CwKeyer& keyer = CurrentModem().keyer;
        for (int i = 0; i < count; ++i)
            keyer.QueueChar(chars[i]);
        const int written = keyer.Render(samples, capacity);
        m_hasData = keyer.HasData();
        return written;
    }

    int Decode(const int16_t* samples, int count, char32_t* chars, int capacity) override
    {
        CwReceiver& receiver = CurrentModem().receiver;
        if (count > 0)
            receiver.Process(samples, count);
        Publish();
        return receiver.TakeText(chars, capacity);
    }

    bool HasData() const override { return m_hasData; }

    std::optional<int32_t> Read(int key) const override
    {
        if (const std::optional<int32_t> common = m_readout.Read(key))
            return common;
        switch (key) {
            case DG_KEY_WPM:
                return m_wpm.load();
            case DG_KEY_FARNSWORTH:
                return m_farnsworth.load();
            case DG_KEY_RX_WPM:
                return m_rxWpm.load();
            default:
                return std::nullopt;
        }
    }

    bool Write(int key, int32_t value) override
    {
        switch (key) {
            case DG_KEY_CARRIER:
                m_readout.carrierTenths = Tenths(ClampCarrier(value / 10.0));
                break;
            case DG_KEY_AFC:
                if (value != 0 && value != 1)
                    return false;
                m_readout.afc = value != 0;
                break;
            case DG_KEY_WPM:
                m_wpm = ClampWpm(value);
                m_farnsworth = ClampFarnsworth(m_farnsworth, m_wpm);
                break;
            case DG_KEY_FARNSWORTH:
                m_farnsworth = ClampFarnsworth(value, m_wpm);
                break;
            case DG_KEY_SQUELCH:
                m_readout.squelch = ClampSquelch(value);
                break;
            default:
                return false;
        }
        ++m_changes;
        return true;
    }

private:
    Modem& CurrentModem()
    {
        if (!m_modem)
            Restart();
        ApplyChanges();
        return *m_modem;
    }

    // Values written by a host take effect here, at the codec's next call.
    void ApplyChanges()
    {
        const int changes = m_changes.load();
        if (changes == m_applied)
            return;
        m_applied = changes;
        const double carrierHz = m_readout.carrierTenths.load() / 10.0;
        m_modem->keyer.SetCarrier(carrierHz);
        m_modem->keyer.SetSpeed(m_wpm, m_farnsworth);
        m_modem->receiver.SetCarrier(carrierHz);
        m_modem->receiver.SetAfc(m_readout.afc);
        m_modem->receiver.SetSquelch(m_readout.squelch);
    }

    void Publish()
    {
        const CwReceiver& receiver = m_modem->receiver;
        m_rxWpm = static_cast<int32_t>(std::lround(receiver.Wpm()));
        m_readout.trackedTenths = Tenths(receiver.ListeningHz());
        m_readout.quality = receiver.Quality();
    }

    std::optional<Modem> m_modem;
    int m_applied = 0;
    std::atomic<int> m_changes{0};
    std::atomic<int32_t> m_wpm{kDefaultWpm};
    std::atomic<int32_t> m_farnsworth{0};
    std::atomic<int32_t> m_rxWpm{kDefaultWpm};
    snapin::ReceiverReadout m_readout{kDefaultCarrierHz * 10, kDefaultSquelch};
    std::atomic<bool> m_hasData{false};
};

}  // namespace
}  // namespace rz::cw

const rz::snapin::Mode rz::snapin::kMode{16, u"CW"};

rz::snapin::Codec& rz::snapin::TheCodec()
{
    static rz::cw::CwCodec codec;
    return codec;
}
