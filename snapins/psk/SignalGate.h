// The squelch: whether each symbol belongs to a PSK signal, judged over a
// window of symbols centred on it (the decision waits for half a window).
// - Its measure, the quality, is q = s / (1 + s) for the signal-to-noise ratio
//   s of the matched filter's output, the noise measured beside the signal.
//   Noise alone keeps s near 0 whatever its level, and a signal raises it
//   however far off tune, so the squelch opens at once and down to the weakest
//   signal the decoder can copy. Both halves of the window must pass: a
//   symbol just before a signal starts or just after it stops is noise.
// - A signal that is not PSK, or one the carrier loop has not caught, is shut
//   out by how badly its symbols fit the phases the trellis decided for them;
//   so are the symbols around a slip of the loop.
// - A signal strong enough to show it must keep an even envelope from symbol
//   to symbol, as PSK does and a keyed carrier (an RTTY tone on ours) does not.
// - A run of steady carrier (the postamble) carries no text, and QPSK decoded
//   from it would be garbage: it is shut out, and so is most of the preamble
//   that comes before the next text.
// - A symbol far weaker than those around it is the signal's end (or a timing
//   not yet found), not part of it.
// - Symbols that come while the receiver settles on a new frequency are
//   garbage, and so are those still undecided when it retunes: shut out too.
#ifndef PSK_SIGNAL_GATE_H
#define PSK_SIGNAL_GATE_H

#include <complex>
#include <cstdint>
#include <vector>

#include "SymbolSampler.h"

namespace rz::psk {

class SignalGate {
public:
    // Steady symbols in a row that make a postamble, as other PSK programs count.
    static constexpr int kPostambleRun = 16;

    // `qpsk` for four phases; `window` symbols, even.
    SignalGate(bool qpsk, int window);

    // Records the next symbol: what the sampler measured, its value with the
    // carrier phase corrected, whether its phase held from the symbol before,
    // and whether the receiver was still settling on a new frequency.
    void Add(const SymbolSample& sample, std::complex<double> corrected, bool steady, bool settling);
    // The receiver has just retuned: the symbols not yet decided were heard on
    // the wrong frequency, and are shut out.
    void Retuned();
    // How well symbol `index` fits the phase the trellis settled for it
    // (the cosine of its error), once the carrier loop knows.
    void NoteFit(int64_t index, double fit);

    // Symbols recorded so far.
    int64_t Count() const { return m_count; }
    // The last symbols in a row whose phase held.
    int SteadyRun() const { return m_steadyRun; }
    // True once enough symbols after `index` are known to decide it.
    bool Decidable(int64_t index) const { return index + m_window / 2 < m_count; }
    // Whether symbol `index` passes a squelch of `threshold` (quality, 0 to 1).
    bool Open(int64_t index, double threshold) const;
    // The quality over the last window, 0 to 1.
    double Quality() const;
    // The same over the last `symbols`.
    double RecentQuality(int symbols) const;

private:
    struct Entry {
        double amplitude;  // of the corrected value
        double power;
        double noiseBelow;
        double noiseAbove;
        double inputPower;
        double fit;
        bool postamble;
        bool settling;
    };
    struct Totals {
        Entry sum{};
        double squaredAmplitude = 0.0;
        int count = 0;
        double Ratio() const;
        double MeanFit() const;
        bool EvenEnvelope() const;
    };

    size_t Slot(int64_t index) const { return static_cast<size_t>(index % static_cast<int64_t>(m_entries.size())); }
    // Sums over the symbols [first, last].
    Totals Sum(int64_t first, int64_t last) const;

    double m_leastFit;  // over the window
    int m_window;
    std::vector<Entry> m_entries;  // by symbol, a ring
    int64_t m_count = 0;
    int m_steadyRun = 0;
};

}  // namespace rz::psk

#endif
