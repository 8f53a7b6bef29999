// The fast log10 path must hand out the integers of the plain std::log10
// arithmetic bit for bit: on random audio, and at every output step. The
// reference must round as the engine does, without fused multiply-adds.
#pragma GCC optimize("fp-contract=off")

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "SpectrumTesting.h"
#include "spectrum/CDFT.h"
#include "spectrum/DFTKernel.h"

using namespace rz::test::spectrum;

namespace {

// A million blocks plainly; sanitizers slow the engine and libm down tenfold,
// so there a fiftieth. RUZADA_SPECTRUM_BLOCKS overrides either.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr long kDefaultRandomBlocks = 20'000;
#else
constexpr long kDefaultRandomBlocks = 1'000'000;
#endif

long RandomBlockCount()
{
    const char* count = std::getenv("RUZADA_SPECTRUM_BLOCKS");
    return count ? std::atol(count) : kDefaultRandomBlocks;
}

// Processes the block and compares every bin with the reference fed the
// powers the transform produced; returns the outputs, or nothing at the first
// difference.
std::vector<int32_t> ProcessAndCompare(CDFT& engine, LogReference& reference, const Block& block)
{
    engine.Process(block.data());
    std::vector<int32_t> out = Outputs(engine);
    for (int bin = 0; bin < kBins; ++bin) {
        const double power = WorkPower(engine, bin);
        const int32_t expected = reference.Update(bin, power);
        if (out[bin] != expected) {
            ADD_FAILURE() << "bin " << bin << ", power " << power << ": " << out[bin] << " instead of " << expected;
            return {};
        }
    }
    return out;
}

TEST(FastLogPath, RandomAudioGivesTheIntegersOfStdLog10)
{
    CDFT engine;
    engine.Configure(1, 5.0, 1);
    LogReference reference(0.0, 5.0, 1);
    Random random(20240611);
    Block audio(kSamples);
    Block block(kSamples);
    std::vector<bool> seen(64);
    const long blocks = RandomBlockCount();
    for (long i = 0; i < blocks && !HasFailure(); ++i) {
        // Fresh audio now and then; in between the same audio at other
        // levels, which moves every power.
        if (i % 16 == 0)
            FillAudio(random, audio);
        const double gain = 0.5 + random.Unit() / 2;
        for (int t = 0; t < kSamples; ++t)
            block[t] = audio[t] * gain;
        for (int32_t value : ProcessAndCompare(engine, reference, block))
            seen.at(value) = true;
    }
    // The blocks reach nearly every output the module can give.
    EXPECT_GE(std::count(seen.begin(), seen.end(), true), 45);
}

// The power at which the exact output reaches `step`.
double StepPower(const CDFT& engine, int step)
{
    const long double decades = 4.4494132L + engine.m_dFloor + step / engine.m_dScale;
    return static_cast<double>(std::pow(10.0L, decades) - 28145.8L);
}

// Around the power where the exact output steps from n - 1 to n, a lone sample
// scanned through neighbouring doubles puts all 1024 bins (each rounded a
// little differently by the transform) closer to the step than any error
// bound, and further out past the margin the fast path keeps.
void ScanSteps(int32_t count, double gain, int32_t scaleMode, int firstStep, int lastStep)
{
    CDFT engine;
    engine.Configure(count, gain, scaleMode);
    LogReference reference(engine.m_dFloor, engine.m_dScale, count);
    std::vector<double> offsets;
    for (int i = -48; i <= 48; ++i)
        offsets.push_back(i * 0x1p-52);
    for (int shift = 4; shift <= 24; ++shift) {
        offsets.push_back(std::ldexp(1.0, shift - 52));
        offsets.push_back(-std::ldexp(1.0, shift - 52));
    }
    for (int step = firstStep; step <= lastStep && !testing::Test::HasFailure(); ++step) {
        const double power = StepPower(engine, step);
        // Truncation toward zero: the output next to the step is one nearer 0.
        const int32_t nearer = step > 0 ? step - 1 : step < 0 ? step + 1 : 0;
        bool sawStep = false;
        bool sawNearer = false;
        for (double offset : offsets) {
            for (int32_t value : ProcessAndCompare(engine, reference, Impulse(engine, power * (1 + offset)))) {
                sawStep |= value == step;
                sawNearer |= value == nearer;
            }
        }
        EXPECT_TRUE(sawStep && sawNearer) << "step " << step;
    }
}

TEST(FastLogPath, EveryOutputStepGivesTheIntegersOfStdLog10)
{
    ScanSteps(1, 5.0, 1, 1, 53);
    ScanSteps(1, 7.3, 25, 0, 78);
    ScanSteps(1, -5.0, 1, -53, -1);
}

// All versions run the same arithmetic in the same order on each value, and
// leave the same bins in doubt: the last blocks sit on an output step.
TEST(DFTKernels, EveryVersionThisProcessorRunsGivesTheSameBits)
{
    struct Setting {
        int32_t count;
        double gain;
        int32_t scaleMode;
    };
    const Setting settings[] = {{1, 5.0, 1}, {3, 5.0, 1}, {1, 5.0, 50}, {2, 4.0, 0}};
    const DFTKernel& reference = DFTKernels().back();
    ASSERT_STREQ(reference.name, "baseline");
    for (const DFTKernel& kernel : DFTKernels()) {
        if (!kernel.runsHere())
            continue;
        for (const Setting& setting : settings) {
            CDFT expected;
            CDFT actual;
            expected.Configure(setting.count, setting.gain, setting.scaleMode);
            actual.Configure(setting.count, setting.gain, setting.scaleMode);
            Random random(3);
            Block block(kSamples);
            for (int i = 0; i < 24; ++i) {
                FillAudio(random, block);
                if (i % 2)
                    block[i * 97 % kSamples] = 30000;
                if (i >= 20)
                    block = Impulse(expected, StepPower(expected, 30) * (1 + (i - 22) * 0x1p-52));
                const bool expectedOverload = reference.process(DescribeBlock(expected, block.data()));
                ASSERT_EQ(kernel.process(DescribeBlock(actual, block.data())), expectedOverload);
                for (int slot = 0; slot < kSamples; ++slot) {
                    ASSERT_EQ(actual.m_pWork[slot], expected.m_pWork[slot]) << kernel.name << " work " << slot;
                    ASSERT_EQ(actual.m_pSpectrum[slot], expected.m_pSpectrum[slot]) << kernel.name << " slot " << slot;
                }
            }
        }
    }
}

}  // namespace
