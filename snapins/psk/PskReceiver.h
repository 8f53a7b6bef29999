// PSK audio to text, keeping all state from one block of samples to the next:
// the carrier mixed to baseband, the symbol sampler, a carrier loop that
// follows the signal's phase and frequency (helped by a search of the whole
// frequency range when it has no signal), the trellis decoder, the squelch and
// the Varicode decoder. Decoded text waits until the caller takes it.
#ifndef PSK_RECEIVER_H
#define PSK_RECEIVER_H

#include <array>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <deque>

#include "CarrierSearch.h"
#include "Downconverter.h"
#include "PhaseTrellis.h"
#include "PskSubmode.h"
#include "SignalGate.h"
#include "SymbolSampler.h"
#include "Varicode.h"

namespace rz::psk {

struct ReceiverSettings {
    double carrierHz = 1000.0;
    bool afc = true;
    bool lsb = false;
    double squelch = 0.4;  // 0 to 1
};

class PskReceiver {
public:
    // Text not taken beyond this many characters is dropped, newest first.
    static constexpr size_t kMaxHeldChars = 4096;

    PskReceiver(const Submode& submode, const ReceiverSettings& settings);

    void Process(const int16_t* samples, int count);

    // Moves up to `capacity` decoded characters to `out`; returns their number.
    int TakeText(char32_t* out, int capacity);

    // Takes effect from the next sample on. A new carrier starts the search afresh there.
    void SetCarrier(double hz);
    void SetAfc(bool on);
    // Which way QPSK turns; the trellis starts afresh.
    void SetLsb(bool lsb);
    void SetSquelch(double threshold) { m_settings.squelch = threshold; }

    // The frequency the receiver follows now.
    double TrackedHz() const { return m_settings.carrierHz + m_offsetHz; }
    // The squelch's measure over the last second or so, 0 to 1.
    double Quality() const { return m_gate.Quality(); }

    // Symbols per second.
    double BaudRate() const { return m_submode.BaudRate(); }
    // How long a symbol's text waits for the decisions after it, in samples.
    int DecisionDelaySamples() const;

private:
    // The carrier loop compares a symbol this many steps back with the
    // trellis's path, settled enough by then to be a sure reference.
    static constexpr int kLoopLag = 4;

    struct PendingBit {
        int64_t symbol;
        bool bit;
    };

    void OnSymbol(const SymbolSample& sample);
    void FollowCarrier(std::complex<double> symbol, std::complex<double> raw);
    // The carrier loop follows a signal.
    bool Locked() const;
    // Just retuned: the symbols still carry the old frequency's turn or the
    // loop's slips, and the trellis is lost.
    bool Settling() const;
    void Retune(double offsetHz);
    void Release();
    double RangeHz() const;

    const Submode& m_submode;
    ReceiverSettings m_settings;
    Downconverter m_downconverter;
    SymbolSampler m_sampler;
    CarrierSearch m_search;
    PhaseTrellis m_trellis;
    SignalGate m_gate;
    VaricodeDecoder m_varicode;
    std::deque<PendingBit> m_pending;
    std::deque<char> m_text;

    double m_offsetHz = 0.0;  // from the set carrier
    double m_phase = 0.0;     // of the symbols, after the oscillator
    int m_settling = 0;       // symbols left with the carrier loop wide open
    std::complex<double> m_previous = 0.0;
    std::complex<double> m_previousRaw = 0.0;
    std::array<std::complex<double>, kLoopLag> m_recent{};  // the last symbols, for the carrier loop
    int m_untilSearch = 0;                                  // baseband samples
    int m_unlockedSymbols = 0;                              // in a row without a signal to follow
    double m_fit = 0.0;                                     // of the symbols to the trellis's phases, averaged
};

}  // namespace rz::psk

#endif
