#include <gtest/gtest.h>

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

using namespace spectrum_testing;

namespace {

const std::vector<int32_t> kAllZero(kBins, 0);

// The module's configuration: log scale, floor 0, N = 1, gain 5.
void ConfigureAsModule(CDFT& engine) { engine.Configure(1, 5.0, 1); }

TEST(DFTEngine, StartsLogarithmicWithAGainOfTenAndNothingInIt)
{
    const CDFT engine;
    EXPECT_EQ(engine.m_bLogScale, 1);
    EXPECT_EQ(engine.m_nAverage, 1);
    EXPECT_EQ(engine.m_dFloor, 0.0);
    EXPECT_EQ(engine.m_dScale, 10.0);
    EXPECT_EQ(engine.m_bOverload, 0);
    EXPECT_EQ(engine.m_pBitReverse[0], 512);
    EXPECT_EQ(engine.m_pBitReverse[1], 512);
    EXPECT_EQ(Outputs(engine), kAllZero);
}

TEST(DFTEngine, WindowIsASymmetricHannOver2047Steps)
{
    const CDFT engine;
    const double* window = engine.m_pWindow;
    EXPECT_EQ(window[0], 0.0);
    EXPECT_NEAR(window[kSamples - 1], 0.0, 1e-15);
    EXPECT_NEAR(std::accumulate(window, window + kSamples, 0.0), 1023.5, 1e-9);
    double asymmetry = 0;
    for (int k = 0; k < kSamples; ++k)
        asymmetry = std::fmax(asymmetry, std::fabs(window[k] - window[kSamples - 1 - k]));
    EXPECT_LT(asymmetry, 1e-14);
}

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

TEST(DFTEngineConfigure, CountZeroMeansOneAndClearsOnEveryCall)
{
    CDFT engine;
    ConfigureAsModule(engine);
    for (int call = 0; call < 2; ++call) {
        engine.Process(Tone(1000).data());
        ASSERT_EQ(Outputs(engine)[256], 34);
        engine.Configure(0, 5.0, 1);
        EXPECT_EQ(engine.m_nAverage, 1);
        EXPECT_EQ(Outputs(engine), kAllZero) << call;
    }
}

TEST(DFTEngineConfigure, KeepsTheSpectrumUnlessTheCountOrTheKindOfScaleChanges)
{
    CDFT engine;
    ConfigureAsModule(engine);
    engine.Process(Tone(1000).data());
    const double level = engine.m_pSpectrum[512];
    engine.Configure(1, 7.0, 25);
    EXPECT_EQ(engine.m_pSpectrum[512], level);
    engine.Configure(1, 5.0, 0);
    EXPECT_EQ(engine.m_pSpectrum[512], 0.0);
    engine.Process(Tone(1000).data());
    engine.Configure(1, 3.0, 0);
    EXPECT_GT(engine.m_pSpectrum[512], 0.0);
    engine.Configure(2, 3.0, 0);
    EXPECT_EQ(engine.m_pSpectrum[512], 0.0);
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
        {10, 1, 1.0, 30.0 / 9}, {99, 1, 9.9, 300.0}, {50, 1, 5.0, 6.0}, {0, 0, 0.0, 3.0},
        {1, 1, 0.0, 3.0},       {9, 1, 0.0, 3.0},    {100, 1, 0.0, 3.0}, {-10, 1, 0.0, 3.0},
        {std::numeric_limits<int32_t>::min(), 1, 0.0, 3.0},
    };
    CDFT engine;
    for (const Case& c : cases) {
        engine.Configure(1, 3.0, c.mode);
        EXPECT_EQ(engine.m_bLogScale, c.logScale) << c.mode;
        EXPECT_DOUBLE_EQ(engine.m_dFloor, c.floor) << c.mode;
        EXPECT_NEAR(engine.m_dScale, c.scale, 1e-12 * c.scale) << c.mode;
    }
}

TEST(DFTEngine, FloorIsWhereTheScaleStartsAndTenDecadesAboveIsTenTimesTheGain)
{
    CDFT engine;
    engine.Configure(1, 5.0, 50);
    // Decades above the floor of 5 and their outputs at a scale of 5 * 10 / 5.
    const std::pair<double, int32_t> levels[] = {{-0.5, 0}, {0.05, 0}, {2.55, 25}, {5.05, 50}, {9.95, 99}};
    for (const auto& [decades, expected] : levels) {
        engine.Process(Impulse(engine, std::pow(10.0, 4.4494132 + 5.0 + decades) - 28145.8).data());
        EXPECT_EQ(Outputs(engine), std::vector<int32_t>(kBins, expected)) << decades;
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

TEST(DFTEngine, SmoothingBlendsInEachBlockWithWeightOneOverN)
{
    CDFT single;
    ConfigureAsModule(single);
    single.Process(Tone(10000).data());
    const double level = single.m_pSpectrum[512];

    CDFT smoothed;
    smoothed.Configure(4, 5.0, 1);
    smoothed.Process(Tone(10000).data());
    EXPECT_DOUBLE_EQ(smoothed.m_pSpectrum[512], level * 0.25);
    smoothed.Process(Tone(10000).data());
    EXPECT_DOUBLE_EQ(smoothed.m_pSpectrum[512], level * 0.25 * 0.75 + level * 0.25);

    // Below the floor a bin only decays.
    CDFT floored;
    floored.Configure(4, 5.0, 50);
    floored.Process(Tone(10000).data());
    const double first = floored.m_pSpectrum[512];
    ASSERT_GT(first, 0.0);
    floored.Process(Block(kSamples, 0.0).data());
    EXPECT_DOUBLE_EQ(floored.m_pSpectrum[512], first * 0.75);
}

TEST(DFTEngineGetSpectrum, WritesExactlyTheBinsAskedFor)
{
    CDFT engine;
    ConfigureAsModule(engine);
    Block loud = Tone(1000);
    loud[5] = 30000;
    engine.Process(loud.data());
    const std::vector<int32_t> full = Outputs(engine);

    constexpr int32_t kUntouched = -7;
    constexpr int kGuard = 4;
    std::vector<int32_t> buffer(kGuard + kBins + kGuard, kUntouched);
    int32_t* out = buffer.data() + kGuard;
    EXPECT_EQ(engine.GetSpectrum(300, 299, out), 1);
    EXPECT_EQ(buffer, std::vector<int32_t>(buffer.size(), kUntouched));

    EXPECT_EQ(engine.GetSpectrum(250, 260, out), 1);
    for (int bin = 0; bin < kBins; ++bin)
        ASSERT_EQ(out[bin], bin >= 250 && bin <= 260 ? full[bin] : kUntouched) << bin;

    // Bins outside 0 to 1023 do not exist and are not written.
    EXPECT_EQ(engine.GetSpectrum(-kGuard, kBins + kGuard - 1, out), 1);
    for (int i = 0; i < kGuard; ++i) {
        EXPECT_EQ(buffer[i], kUntouched);
        EXPECT_EQ(buffer[kGuard + kBins + i], kUntouched);
    }
    EXPECT_EQ(std::vector<int32_t>(out, out + kBins), full);
}

TEST(DFTEngineGetSpectrum, TruncatesTowardZeroAndMarksWhatDoesNotFit)
{
    CDFT engine;
    engine.Configure(1, -5.0, 1);
    engine.Process(Tone(32767).data());
    EXPECT_EQ(Outputs(engine)[256], -49);
    engine.Configure(1, 1e9, 1);
    EXPECT_EQ(Outputs(engine)[256], std::numeric_limits<int32_t>::min());
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
