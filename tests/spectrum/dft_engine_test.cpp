// The spectrum engine against the transform's definition and the plain std::log10
// arithmetic of its scale, on tones, random audio and a reader on another thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <random>
#include <thread>
#include <utility>
#include <vector>

#include "spectrum/CDFT.h"

namespace {

constexpr int kSamples = 2048;
constexpr int kBins = 1024;
using Block = std::vector<double>;
const std::vector<int32_t> kAllZero(kBins, 0);

Block Tone(double amplitude, double bin = 256)
{
    Block block(kSamples);
    for (int t = 0; t < kSamples; ++t)
        block[t] = std::round(amplitude * std::sin(2 * M_PI * bin * t / kSamples));
    return block;
}

std::vector<int32_t> Outputs(const CDFT& engine)
{
    std::vector<int32_t> out(kBins);
    engine.GetSpectrum(0, kBins - 1, out.data());
    return out;
}

// The module's configuration: log scale, floor 0, N = 1, gain 5.
void ConfigureAsModule(CDFT& engine) { engine.Configure(1, 5.0, 1); }

// The power of a bin as the transform left it in the work buffer.
double WorkPower(const CDFT& engine, int bin)
{
    const double* work = engine.m_pWork;
    return bin == 0 ? work[0] : work[2 * bin] * work[2 * bin] + work[2 * bin + 1] * work[2 * bin + 1];
}

// |X_b|^2 of the windowed block by the definition, in long double; bin 0 is the
// square of the sum over even positions.
std::vector<long double> DirectPowers(const CDFT& engine, const Block& block)
{
    std::array<long double, kSamples> cosines, sines;
    for (int t = 0; t < kSamples; ++t) {
        cosines[t] = std::cos(2 * M_PIl * t / kSamples);
        sines[t] = std::sin(2 * M_PIl * t / kSamples);
    }
    std::vector<long double> powers(kBins);
    long double evenSum = 0;
    for (int t = 0; t < kSamples; t += 2)
        evenSum += static_cast<long double>(engine.m_pWindow[t]) * block[t];
    powers[0] = evenSum * evenSum;
    for (int bin = 1; bin < kBins; ++bin) {
        long double re = 0, im = 0;
        for (int t = 0; t < kSamples; ++t) {
            const long double value = static_cast<long double>(engine.m_pWindow[t]) * block[t];
            re += value * cosines[bin * t % kSamples];
            im -= value * sines[bin * t % kSamples];
        }
        powers[bin] = re * re + im * im;
    }
    return powers;
}

// Noise and a tone, each from a whisper to full scale, as 16-bit audio: the
// bins' outputs spread over the whole range.
void FillAudio(std::mt19937_64& random, Block& block)
{
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const double noise = std::exp2(15 * unit(random));
    const double tone = unit(random) < 0.5 ? std::exp2(15.5 * unit(random)) : 0.0;
    const double turn = M_PI * unit(random);
    for (int t = 0; t < kSamples; ++t) {
        const double value = noise * (2 * unit(random) - 1) + tone * std::sin(turn * t);
        block[t] = std::clamp(std::round(value), -32768.0, 32767.0);
    }
}

TEST(DFTEngine, SilenceGivesZeroAToneReadsInTwoDecibelStepsAndOverloadIsARawSampleAbove29491Point2)
{
    CDFT engine;
    ConfigureAsModule(engine);
    engine.Process(Block(kSamples, 0.0).data());
    EXPECT_EQ(Outputs(engine), kAllZero);
    // Zero power lies a hair above the floor, so no bin is cut to exactly 0.
    EXPECT_GT(engine.m_pSpectrum[512], 0.0);
    EXPECT_LT(engine.m_pSpectrum[512], 1e-6);
    const std::pair<double, int32_t> levels[] = {{32767, 49}, {10000, 44}, {1000, 34}, {100, 24}, {10, 14}};
    for (const auto& [amplitude, expected] : levels) {
        engine.Process(Tone(amplitude).data());
        const std::vector<int32_t> out = Outputs(engine);
        EXPECT_EQ(out[256], expected) << amplitude;
        EXPECT_LT(out[240], expected) << amplitude;
        EXPECT_LT(out[272], expected) << amplitude;
    }
    // The window is 0 at both ends; the overload scan looks at the samples themselves.
    const std::pair<int, double> overloads[] = {{700, 29491}, {0, 29492}, {1023, 29492}, {kSamples - 1, 29492}};
    for (const auto& [position, value] : overloads) {
        Block block(kSamples, -32768.0);
        block[position] = value;
        engine.Process(block.data());
        EXPECT_EQ(engine.GetSpectrum(0, kBins - 1, std::vector<int32_t>(kBins).data()), value > 29491.2 ? 1 : 0)
            << position;
    }
}

TEST(DFTEngine, PowersMatchTheDefinitionOfTheTransformOfTheWindowedBlock)
{
    CDFT engine;
    ConfigureAsModule(engine);
    std::mt19937_64 random(7);
    Block noise(kSamples), evenOnly(kSamples, 0.0);
    FillAudio(random, noise);
    for (int t = 0; t < kSamples; t += 2)
        evenOnly[t] = 1000;
    for (const Block& block : {noise, Tone(12000, 100.37), evenOnly}) {
        engine.Process(block.data());
        const std::vector<long double> direct = DirectPowers(engine, block);
        for (int bin = 0; bin < kBins; ++bin) {
            const double power = static_cast<double>(direct[bin]);
            ASSERT_NEAR(WorkPower(engine, bin), power, 1e-9 * power + 1e-6) << bin;
        }
    }
}

// The plain arithmetic of a bin on the log scale, std::log10 and all.
class LogReference {
public:
    explicit LogReference(int32_t average) : m_keep(1.0 - 1.0 / average), m_share(1.0 / average) {}
    int32_t Update(int bin, double power, double scale)
    {
        const double level = std::log10(power + 28145.8) - 4.4494132;
        const double kept = m_spectrum[bin] * m_keep;
        m_spectrum[bin] = level < 0 ? kept : kept + level * m_share;
        return static_cast<int32_t>(m_spectrum[bin] * scale);
    }

private:
    double m_keep, m_share;
    std::vector<double> m_spectrum = std::vector<double>(kBins);
};

// The integers are those of the plain arithmetic on the powers the transform
// produced, with smoothing, on random audio, bit for bit. Sanitizers slow the
// engine tenfold: there fewer blocks.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr long kRandomBlocks = 2'000;
#else
constexpr long kRandomBlocks = 20'000;
#endif

TEST(DFTEngine, RandomAudioGivesTheIntegersOfTheStdLog10Arithmetic)
{
    for (const int32_t count : {1, 3}) {
        CDFT engine;
        engine.Configure(count, 5.0, 1);
        LogReference reference(count);
        std::mt19937_64 random(20240611);
        Block audio(kSamples), block(kSamples);
        std::vector<bool> seen(64);
        for (long i = 0; i < kRandomBlocks; ++i) {
            // Fresh audio now and then; in between the same audio at other levels.
            if (i % 16 == 0)
                FillAudio(random, audio);
            const double gain = 0.5 + static_cast<double>(random() % 1024) / 2048;
            std::transform(audio.begin(), audio.end(), block.begin(), [&](double v) { return v * gain; });
            engine.Process(block.data());
            const std::vector<int32_t> out = Outputs(engine);
            for (int bin = 0; bin < kBins; ++bin) {
                ASSERT_EQ(out[bin], reference.Update(bin, WorkPower(engine, bin), 5.0))
                    << "block " << i << ", bin " << bin << ", count " << count;
                seen.at(out[bin]) = true;
            }
        }
        // The blocks reach nearly every output the module can give.
        EXPECT_GE(std::count(seen.begin(), seen.end(), true), 45) << count;
    }
}

// A count of 0 means 1; the spectrum is cleared on every call that names a count
// or a kind of scale other than the last, and kept otherwise.
TEST(DFTEngineConfigure, CountZeroMeansOneAndOnlyAChangedCountOrKindOfScaleClears)
{
    CDFT engine;
    ConfigureAsModule(engine);
    engine.Process(Tone(1000).data());
    ASSERT_EQ(Outputs(engine)[256], 34);
    engine.Configure(0, 5.0, 1);
    EXPECT_EQ(engine.m_nAverage, 1);
    EXPECT_EQ(Outputs(engine), kAllZero);
    const struct {
        int32_t count;
        double gain;
        int32_t scaleMode;
        bool kept;
    } steps[] = {{0, 5.0, 1, false}, {1, 7.0, 25, true}, {1, 5.0, 0, false}, {1, 3.0, 0, true}, {2, 3.0, 0, false}};
    for (const auto& step : steps) {
        engine.Process(Tone(1000).data());
        const double level = engine.m_pSpectrum[512];
        engine.Configure(step.count, step.gain, step.scaleMode);
        EXPECT_EQ(engine.m_pSpectrum[512], step.kept ? level : 0.0) << step.count << "/" << step.scaleMode;
    }
}

// Process and GetSpectrum share no lock: a reader may get bins of either
// block, but never anything else.
TEST(DFTEngineThreads, AReaderGetsEachBinFromOneBlockOrTheOther)
{
    const Block tone = Tone(32767);
    Block loud = Tone(3000, 700.5);
    loud[9] = 30000;
    // Without smoothing, the outputs are those of the last block alone.
    CDFT engine;
    ConfigureAsModule(engine);
    std::vector<int32_t> expected[2];
    engine.Process(loud.data());
    expected[1] = Outputs(engine);
    engine.Process(tone.data());
    expected[0] = Outputs(engine);
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 3000; ++i)
            engine.Process((i % 2 ? tone : loud).data());
        done = true;
    });
    std::vector<int32_t> out(kBins);
    int strangeBin = -1;
    while (!done && strangeBin < 0) {
        const int32_t overload = engine.GetSpectrum(0, kBins - 1, out.data());
        if (overload != 0 && overload != 1)
            strangeBin = kBins;
        for (int bin = 0; bin < kBins && strangeBin < 0; ++bin)
            if (out[bin] != expected[0][bin] && out[bin] != expected[1][bin])
                strangeBin = bin;
    }
    writer.join();
    EXPECT_EQ(strangeBin, -1) << (strangeBin < kBins ? "bin value" : "overload flag");
}

}  // namespace
