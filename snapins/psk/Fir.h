// A complex signal through a real FIR filter, and the low-pass filters the
// receiver is built from.
#ifndef PSK_FIR_H
#define PSK_FIR_H

#include <complex>
#include <vector>

namespace rz::psk {

// A Blackman-windowed sinc of `length` taps with its half-amplitude point at
// `cutoff` cycles per sample, unity gain at zero frequency.
std::vector<double> LowPass(int length, double cutoff);

class Fir {
public:
    explicit Fir(std::vector<double> taps) : m_taps(std::move(taps)), m_history(2 * m_taps.size()) {}

    void Push(std::complex<double> sample)
    {
        const size_t length = m_taps.size();
        m_newest = (m_newest + 1) % length;
        m_history[m_newest] = sample;
        m_history[m_newest + length] = sample;
    }
    // The output for the samples pushed so far.
    std::complex<double> Output() const;
    std::complex<double> Filter(std::complex<double> sample)
    {
        Push(sample);
        return Output();
    }

private:
    std::vector<double> m_taps;
    std::vector<std::complex<double>> m_history;  // twice the taps, so a window is always contiguous
    size_t m_newest = 0;
};

}  // namespace rz::psk

#endif
