// The PSK snap-in: mask 1, "PSK". One transmitter and one receiver, built
// from the settings when the mode is selected (or by the first codec call),
// tuned at run time through the control keys of DGSnapin.h.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <optional>

#include "PskReceiver.h"
#include "PskSubmode.h"
#include "PskTransmitter.h"
#include "ReceiverReadout.h"
#include "Settings.h"
#include "Snapin.h"

namespace rz::psk {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kSettingsSection = "PSK";
constexpr int kDefaultCarrierHz = 1000;
// The signal and the receiver's frequency range stay inside the voice channel.
constexpr int kMinCarrierHz = 200;
constexpr int kMaxCarrierHz = 3800;
constexpr int kDefaultSquelch = 40;
// While transmitting, the module asks for more audio before what it was given
// has played out (once less than a second of it waits); a pause beyond that
// means the transmitter was off, and the next audio starts a new over.
constexpr auto kOverGap = std::chrono::seconds(1);

// What the host and the settings ask for; the codec applies it at its next call.
struct Tuning {
    int carrierTenths;
    bool afc;
    bool lsb;
    DGPskSubmode submode;
    int squelch;

    bool operator==(const Tuning&) const = default;
};

int ClampedCarrierTenths(int64_t tenths)
{
    return static_cast<int>(std::clamp<int64_t>(tenths, kMinCarrierHz * 10, kMaxCarrierHz * 10));
}

Tuning TuningFromProfile()
{
    const auto read = [](const char* key, int fallback) { return snapin::SettingInt(kSettingsSection, key, fallback); };
    const int carrier = read("Carrier", kDefaultCarrierHz);
    const bool inRange = carrier >= kMinCarrierHz && carrier <= kMaxCarrierHz;
    return {
        (inRange ? carrier : kDefaultCarrierHz) * 10,
        read("AFC", 1) != 0,
        read("LSB", 0) != 0,
        SubmodeNamed(snapin::SettingText(kSettingsSection, "Submode", "BPSK31")).value_or(DG_PSK_BPSK31),
        kDefaultSquelch,
    };
}

struct Modem {
    explicit Modem(const Tuning& tuning)
        : submode(SubmodeOf(tuning.submode)),
          transmitter(submode, tuning.carrierTenths / 10.0, tuning.lsb),
          receiver(submode, {tuning.carrierTenths / 10.0, tuning.afc, tuning.lsb, tuning.squelch / 100.0}),
          tuning(tuning)
    {}
    const Submode& submode;
    PskTransmitter transmitter;
    PskReceiver receiver;
    Tuning tuning;                              // in effect
    std::optional<Clock::time_point> audioEnd;  // when the audio given so far has played
};

class PskCodec final : public snapin::Codec {
public:
    void Restart() override
    {
        const Tuning tuning = TuningFromProfile();
        Request(tuning);
        m_modem.emplace(tuning);
        Publish();
        m_hasData = false;
    }

    int Twiddle(int16_t* samples, int wanted) override
    {
        PskTransmitter& transmitter = TransmitterForNow();
        const int written = transmitter.RenderIdle(samples, wanted);
        NoteTransmitted(written);
        m_hasData = transmitter.HasData();
        return written;
    }

    int Encode(int16_t* samples, int capacity, const char32_t* chars, int count) override
    {
        const bool bringsText = std::any_of(chars, chars + count, [](char32_t ch) { return ch < 128; });
        if (!bringsText && !(m_modem && m_modem->transmitter.HasData()))
            return 0;
        PskTransmitter& transmitter = TransmitterForNow();
        for (int i = 0; bringsText && i < count; ++i)
            transmitter.QueueChar(chars[i]);
        const int written = transmitter.Render(samples, capacity);
        NoteTransmitted(written);
        m_hasData = transmitter.HasData();
        return written;
    }

    int Decode(const int16_t* samples, int count, char32_t* chars, int capacity) override
    {
        PskReceiver& receiver = CurrentModem().receiver;
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
            case DG_KEY_REVERSE:
                return m_lsb.load() ? 1 : 0;
            case DG_KEY_SUBMODE:
                return m_submode.load();
            case DG_KEY_BAUD:
                return static_cast<int32_t>(std::lround(SubmodeOf(m_submode.load()).BaudRate() * 100.0));
            default:
                return std::nullopt;
        }
    }

    bool Write(int key, int32_t value) override
    {
        switch (key) {
            case DG_KEY_CARRIER:
                m_readout.carrierTenths = ClampedCarrierTenths(value);
                return true;
            case DG_KEY_AFC:
                m_readout.afc = value != 0;
                return true;
            case DG_KEY_REVERSE:
                m_lsb = value != 0;
                return true;
            case DG_KEY_SUBMODE:
                if (const std::optional<DGPskSubmode> submode = SubmodeFromValue(value)) {
                    m_submode = *submode;
                    return true;
                }
                return false;
            case DG_KEY_SQUELCH:
                m_readout.squelch = std::clamp(value, 0, 100);
                return true;
            default:
                return false;
        }
    }

private:
    void Request(const Tuning& tuning)
    {
        m_readout.carrierTenths = tuning.carrierTenths;
        m_readout.afc = tuning.afc;
        m_lsb = tuning.lsb;
        m_submode = tuning.submode;
        m_readout.squelch = tuning.squelch;
    }

    Tuning Requested() const { return {m_readout.carrierTenths, m_readout.afc, m_lsb, m_submode, m_readout.squelch}; }

    // The modem, with what the host asked for since the last call in effect.
    Modem& CurrentModem()
    {
        if (!m_modem)
            Restart();
        const Tuning wanted = Requested();
        Modem& modem = *m_modem;
        if (wanted == modem.tuning)
            return modem;
        if (wanted.submode != modem.tuning.submode) {
            const std::optional<Clock::time_point> audioEnd = modem.audioEnd;
            m_modem.emplace(wanted);
            m_modem->audioEnd = audioEnd;
            return *m_modem;
        }
        if (wanted.carrierTenths != modem.tuning.carrierTenths) {
            modem.transmitter.SetCarrier(wanted.carrierTenths / 10.0);
            modem.receiver.SetCarrier(wanted.carrierTenths / 10.0);
        }
        if (wanted.afc != modem.tuning.afc)
            modem.receiver.SetAfc(wanted.afc);
        if (wanted.lsb != modem.tuning.lsb) {
            modem.transmitter.SetLsb(wanted.lsb);
            modem.receiver.SetLsb(wanted.lsb);
        }
        modem.receiver.SetSquelch(wanted.squelch / 100.0);
        modem.tuning = wanted;
        return modem;
    }

    PskTransmitter& TransmitterForNow()
    {
        Modem& modem = CurrentModem();
        if (!modem.audioEnd || Clock::now() > *modem.audioEnd + kOverGap)
            modem.transmitter.BeginOver();
        return modem.transmitter;
    }

    // The card plays the audio in order, at its own pace, from when it is given.
    void NoteTransmitted(int samples)
    {
        const auto duration = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(static_cast<double>(std::max(samples, 0)) / kSampleRate));
        std::optional<Clock::time_point>& end = m_modem->audioEnd;
        end = std::max(end.value_or(Clock::now()), Clock::now()) + duration;
    }

    void Publish()
    {
        const PskReceiver& receiver = m_modem->receiver;
        m_readout.trackedTenths = static_cast<int32_t>(std::lround(receiver.TrackedHz() * 10.0));
        m_readout.quality = static_cast<int32_t>(std::lround(receiver.Quality() * 100.0));
    }

    std::optional<Modem> m_modem;
    std::atomic<bool> m_hasData{false};
    // Host threads read and write these at any time.
    std::atomic<bool> m_lsb{false};
    std::atomic<DGPskSubmode> m_submode{DG_PSK_BPSK31};
    snapin::ReceiverReadout m_readout{kDefaultCarrierHz * 10, kDefaultSquelch};
};

}  // namespace
}  // namespace rz::psk

const rz::snapin::Mode rz::snapin::kMode{1, u"PSK"};

rz::snapin::Codec& rz::snapin::TheCodec()
{
    static rz::psk::PskCodec codec;
    return codec;
}
