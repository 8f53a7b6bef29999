// Blocks, references and readers shared by the spectrum tests.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "spectrum/CDFT.h"

namespace rz::test::spectrum {

constexpr int kSamples = 2048;
constexpr int kBins = 1024;
constexpr double kTwoPi = 2 * M_PI;

using Block = std::vector<double>;

inline Block Tone(double amplitude, double bin = 256)
{
    Block block(kSamples);
    for (int t = 0; t < kSamples; ++t)
        block[t] = std::round(amplitude * std::sin(kTwoPi * bin * t / kSamples));
    return block;
}

inline std::vector<int32_t> Outputs(const CDFT& engine)
{
    std::vector<int32_t> out(kBins);
    engine.GetSpectrum(0, kBins - 1, out.data());
    return out;
}

// The power of every bin as the transform left it in the work buffer.
inline double WorkPower(const CDFT& engine, int bin)
{
    const double* work = engine.m_pWork;
    return bin == 0 ? work[0] : work[2 * bin] * work[2 * bin] + work[2 * bin + 1] * work[2 * bin + 1];
}

// |X_b|^2 of the windowed block by the definition, in long double.
inline std::vector<long double> DirectPowers(const CDFT& engine, const Block& block)
{
    std::array<long double, kSamples> cosines;
    std::array<long double, kSamples> sines;
    for (int t = 0; t < kSamples; ++t) {
        cosines[t] = std::cos(2 * M_PIl * t / kSamples);
        sines[t] = std::sin(2 * M_PIl * t / kSamples);
    }
    std::vector<long double> powers(kBins);
    for (int bin = 1; bin < kBins; ++bin) {
        long double re = 0;
        long double im = 0;
        for (int t = 0; t < kSamples; ++t) {
            const long double value = static_cast<long double>(engine.m_pWindow[t]) * block[t];
            const int turn = bin * t % kSamples;
            re += value * cosines[turn];
            im -= value * sines[turn];
        }
        powers[bin] = re * re + im * im;
    }
    return powers;
}

// The plain arithmetic of a bin on the log scale, std::log10 and all.
class LogReference {
public:
    LogReference(double floor, double scale, int32_t average)
        : m_floor(floor), m_scale(scale), m_keep(1.0 - 1.0 / average), m_share(1.0 / average)
    {}

    // The bin's output after a block with this power.
    int32_t Update(int bin, double power)
    {
        const double level = std::log10(power + 28145.8) - 4.4494132 - m_floor;
        const double kept = m_spectrum[bin] * m_keep;
        m_spectrum[bin] = level < 0 ? kept : kept + level * m_share;
        return static_cast<int32_t>(m_spectrum[bin] * m_scale);
    }

private:
    double m_floor;
    double m_scale;
    double m_keep;
    double m_share;
    std::vector<double> m_spectrum = std::vector<double>(kBins);
};

// xorshift64*: cheap enough for a million blocks.
class Random {
public:
    explicit Random(uint64_t seed) : m_state(seed) {}

    uint64_t Next()
    {
        m_state ^= m_state >> 12;
        m_state ^= m_state << 25;
        m_state ^= m_state >> 27;
        return m_state * 0x2545F4914F6CDD1Dull;
    }

    // Uniform in [0, 1).
    double Unit() { return static_cast<double>(Next() >> 11) * 0x1p-53; }

private:
    uint64_t m_state;
};

// Noise and a tone, each from a whisper to full scale, as 16-bit audio: the
// bins' outputs spread over the whole range. The tone turns by a phasor, since
// a sine per sample would cost more than the engine.
inline void FillAudio(Random& random, Block& block)
{
    const double noise = std::exp2(15 * random.Unit());
    const double tone = random.Unit() < 0.5 ? std::exp2(15.5 * random.Unit()) : 0.0;
    const double turn = kTwoPi * random.Unit() / 2;
    const double turnRe = std::cos(turn);
    const double turnIm = std::sin(turn);
    double re = tone;
    double im = 0;
    for (int t = 0; t < kSamples; ++t) {
        const double value = noise * (2 * random.Unit() - 1) + im;
        block[t] = std::fmin(std::fmax(std::round(value), -32768.0), 32767.0);
        const double nextRe = re * turnRe - im * turnIm;
        im = re * turnIm + im * turnRe;
        re = nextRe;
    }
}

}  // namespace rz::test::spectrum
