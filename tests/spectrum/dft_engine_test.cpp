#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>
#include <thread>
#include <utility>
#include <vector>

#include "SpectrumTesting.h"
#include "spectrum/CDFT.h"

using namespace rz::test::spectrum;

namespace {

const std::vector<int32_t> kAllZero(kBins, 0);

// The module's configuration: log scale, floor 0, N = 1, gain 5.
void ConfigureAsModule(CDFT& engine) { engine.Configure(1, 5.0, 1); }

TEST(DFTEngine, SilenceGivesZeroInEveryBin)
{
    CDFT engine;
    ConfigureAsModule(engine);
    engine.Process(Block(kSamples, 0.0).data());
    EXPECT_EQ(Outputs(engine), kAllZero);
    // Zero power lies a hair above the floor, so no bin is cut to exactly 0.
    EXPECT_GT(engine.m_pSpectrum[512], 0.0);
    EXPECT_LT(engine.m_pSpectrum[512], 1e-6);
}

TEST(DFTEngine, ThousandHertzToneReadsInTwoDecibelStepsInBin256)
{
    CDFT engine;
    ConfigureAsModule(engine);
    const std::pair<double, int32_t> levels[] = {{32767, 49}, {10000, 44}, {1000, 34}, {100, 24}, {10, 14}};
    for (const auto& [amplitude, expected] : levels) {
        engine.Process(Tone(amplitude).data());
        const std::vector<int32_t> out = Outputs(engine);
        EXPECT_EQ(out[256], expected) << amplitude;
        EXPECT_LT(out[240], expected) << amplitude;
        EXPECT_LT(out[272], expected) << amplitude;
    }
    engine.Process(Tone(32767).data());
    EXPECT_NEAR(engine.m_pSpectrum[512] * 5.0, 49.998, 0.0005);
}

TEST(DFTEngine, BinsMatchTheDefinitionOfTheTransformOfTheWindowedBlock)
{
    CDFT engine;
    ConfigureAsModule(engine);
    Random random(7);
    Block noise(kSamples);
    FillAudio(random, noise);
    for (const Block& block : {noise, Tone(12000, 100.37)}) {
        engine.Process(block.data());
        const std::vector<long double> direct = DirectPowers(engine, block);
        for (int bin = 1; bin < kBins; ++bin) {
            const double power = static_cast<double>(direct[bin]);
            ASSERT_NEAR(WorkPower(engine, bin), power, 1e-9 * power) << bin;
            ASSERT_NEAR(engine.m_pSpectrum[2 * bin], std::log10(power + 28145.8) - 4.4494132, 1e-9) << bin;
        }
    }
}

TEST(DFTEngine, BinZeroIsTheSquareOfTheEvenPositionSumOnly)
{
    CDFT engine;
    Block odd(kSamples, 0.0);
    Block even(kSamples, 0.0);
    double evenSum = 0;
    for (int t = 0; t < kSamples; t += 2) {
        even[t] = 1000;
        odd[t + 1] = 1000;
        evenSum += engine.m_pWindow[t] * 1000;
    }
    engine.Process(odd.data());
    EXPECT_EQ(WorkPower(engine, 0), 0.0);
    EXPECT_DOUBLE_EQ(engine.m_pSpectrum[0], std::log10(28145.8) - 4.4494132);
    engine.Process(even.data());
    EXPECT_NEAR(WorkPower(engine, 0), evenSum * evenSum, 1e-12 * evenSum * evenSum);
    EXPECT_NEAR(engine.m_pSpectrum[0], std::log10(evenSum * evenSum + 28145.8) - 4.4494132, 1e-12);
}

TEST(DFTEngine, OverloadIsARawSampleAbove29491Point2)
{
    CDFT engine;
    int32_t out[kBins];
    Block block(kSamples, -32768.0);
    block[700] = 29491;
    engine.Process(block.data());
    EXPECT_EQ(engine.m_bOverload, 0);
    EXPECT_EQ(engine.GetSpectrum(0, kBins - 1, out), 0);
    // The window is 0 at both ends; the scan looks at the samples themselves.
    for (int position : {0, 1023, kSamples - 1}) {
        Block loud(kSamples, 0.0);
        loud[position] = 29492;
        engine.Process(loud.data());
        EXPECT_EQ(engine.GetSpectrum(0, kBins - 1, out), 1) << position;
    }
    engine.Process(block.data());
    EXPECT_EQ(engine.GetSpectrum(0, kBins - 1, out), 0);
}

// The integers are those of the plain std::log10 arithmetic on the powers the
// transform produced, with smoothing, on random audio from a whisper to full
// scale, bit for bit. Sanitizers slow the engine tenfold: there fewer blocks.
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
        LogReference reference(0.0, 5.0, count);
        Random random(20240611);
        Block audio(kSamples);
        Block block(kSamples);
        std::vector<bool> seen(64);
        for (long i = 0; i < kRandomBlocks; ++i) {
            // Fresh audio now and then; in between the same audio at other levels.
            if (i % 16 == 0)
                FillAudio(random, audio);
            const double gain = 0.5 + random.Unit() / 2;
            for (int t = 0; t < kSamples; ++t)
                block[t] = audio[t] * gain;
            engine.Process(block.data());
            const std::vector<int32_t> out = Outputs(engine);
            for (int bin = 0; bin < kBins; ++bin) {
                ASSERT_EQ(out[bin], reference.Update(bin, WorkPower(engine, bin)))
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

TEST(DFTEngineConfigure, ScaleModesChooseTheFloorAndTheScale)
{
    struct Case {
        int32_t mode;
        int32_t logScale;
        double floor;
        double scale;  // for a gain of 3
    };
    const Case cases[] = {
        {10, 1, 1.0, 30.0 / 9}, {99, 1, 9.9, 300.0}, {50, 1, 5.0, 6.0},
        {0, 0, 0.0, 3.0},       {1, 1, 0.0, 3.0},    {9, 1, 0.0, 3.0},
        {100, 1, 0.0, 3.0},     {-10, 1, 0.0, 3.0},  {std::numeric_limits<int32_t>::min(), 1, 0.0, 3.0},
    };
    CDFT engine;
    for (const Case& c : cases) {
        engine.Configure(1, 3.0, c.mode);
        EXPECT_EQ(engine.m_bLogScale, c.logScale) << c.mode;
        EXPECT_DOUBLE_EQ(engine.m_dFloor, c.floor) << c.mode;
        EXPECT_NEAR(engine.m_dScale, c.scale, 1e-12 * c.scale) << c.mode;
    }
}

TEST(DFTEngine, LinearScaleIsTheRootOfTheMagnitude)
{
    CDFT engine;
    engine.Configure(1, 2.0, 0);
    const Block tone = Tone(20000);
    engine.Process(tone.data());
    const std::vector<long double> direct = DirectPowers(engine, tone);
    for (int bin : {100, 255, 256, 700}) {
        const double expected = std::sqrt(std::sqrt(static_cast<double>(direct[bin]))) / 289.626;
        EXPECT_NEAR(engine.m_pSpectrum[2 * bin], expected, 1e-9 * expected) << bin;
    }
    EXPECT_EQ(Outputs(engine)[256], 22);
}

// Process and GetSpectrum share no lock: a reader may get bins of either
// block, but never anything else.
TEST(DFTEngineThreads, AReaderGetsEachBinFromOneBlockOrTheOther)
{
    const Block tone = Tone(32767);
    Block loud = Tone(3000, 700.5);
    loud[9] = 30000;
    std::vector<int32_t> expected[2];
    for (int which = 0; which < 2; ++which) {
        CDFT engine;
        ConfigureAsModule(engine);
        engine.Process((which ? loud : tone).data());
        expected[which] = Outputs(engine);
    }

    CDFT engine;
    ConfigureAsModule(engine);
    engine.Process(tone.data());
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
        for (int bin = 0; bin < kBins && strangeBin < 0; ++bin) {
            if (out[bin] != expected[0][bin] && out[bin] != expected[1][bin])
                strangeBin = bin;
        }
    }
    writer.join();
    EXPECT_EQ(strangeBin, -1) << (strangeBin < kBins ? "bin value" : "overload flag");
}

}  // namespace
