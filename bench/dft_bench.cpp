// The cost of the spectrum engine, kept as a record: CDFT::Process and
// GetSpectrum of all 1024 bins at the module's configuration (log scale, floor 0,
// N = 1, gain 5), beside the same computation built on FFTW (window and overload
// scan, a 2048-point real transform, power, std::log10, smoothing, truncation).
// BM_SpectrumRatio runs both on the same blocks in alternating batches and
// reports cdft_us, fftw_us (medians per block) and their ratio; read the median
// row of its repetitions. The waterfall asks for about four blocks a second.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "spectrum/CDFT.h"

namespace {

constexpr int kSamples = 2048;
constexpr int kBins = 1024;
constexpr int kBlockCount = 64;

// Noise and a tone at levels from a whisper to full scale, as 16-bit audio.
std::vector<std::vector<double>> MakeBlocks()
{
    std::mt19937_64 random(20240611);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<std::vector<double>> blocks(kBlockCount, std::vector<double>(kSamples));
    for (auto& block : blocks) {
        const double noise = std::pow(10.0, 4.5 * unit(random));
        const double tone = std::pow(10.0, 4.5 * unit(random));
        const double cycles = 1 + 1000 * unit(random);
        for (int t = 0; t < kSamples; ++t) {
            const double value = noise * (2 * unit(random) - 1) + tone * std::sin(2 * M_PI * cycles * t / kSamples);
            block[t] = std::clamp(std::round(value), -32768.0, 32767.0);
        }
    }
    return blocks;
}

const std::vector<std::vector<double>>& Blocks()
{
    static const auto blocks = MakeBlocks();
    return blocks;
}

// CDFT::Process and GetSpectrum of every bin.
struct EngineRun {
    CDFT engine;
    std::vector<int32_t> out = std::vector<int32_t>(kBins);

    EngineRun() { engine.Configure(1, 5.0, 1); }

    void Block(const double* samples)
    {
        engine.Process(samples);
        benchmark::DoNotOptimize(engine.GetSpectrum(0, kBins - 1, out.data()));
        benchmark::ClobberMemory();
    }
};

void BM_SpectrumCDFT(benchmark::State& state)
{
    EngineRun run;
    size_t next = 0;
    for (auto _ : state)
        run.Block(Blocks()[next++ % kBlockCount].data());
}
BENCHMARK(BM_SpectrumCDFT)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

#if __has_include(<fftw3.h>)
#include <fftw3.h>

namespace {

class FftwRun {
public:
    FftwRun()
        : m_input(fftw_alloc_real(kSamples)),
          m_output(fftw_alloc_complex(kSamples / 2 + 1)),
          m_plan(fftw_plan_dft_r2c_1d(kSamples, m_input, m_output, FFTW_MEASURE)),
          m_window(kSamples),
          m_spectrum(kBins),
          m_out(kBins)
    {
        const CDFT engine;
        std::copy_n(engine.m_pWindow, kSamples, m_window.begin());
    }

    ~FftwRun()
    {
        fftw_destroy_plan(m_plan);
        fftw_free(m_output);
        fftw_free(m_input);
    }

    FftwRun(const FftwRun&) = delete;
    FftwRun& operator=(const FftwRun&) = delete;

    void Block(const double* samples)
    {
        bool overload = false;
        for (int k = 0; k < kSamples; ++k) {
            overload |= samples[k] > 29491.2;
            m_input[k] = m_window[k] * samples[k];
        }
        fftw_execute(m_plan);
        for (int bin = 0; bin < kBins; ++bin) {
            const double power = m_output[bin][0] * m_output[bin][0] + m_output[bin][1] * m_output[bin][1];
            const double level = std::log10(power + 28145.8) - 4.4494132 - kFloor;
            const double kept = m_spectrum[bin] * kKeep;
            m_spectrum[bin] = level < 0.0 ? kept : kept + level * kShare;
        }
        for (int bin = 0; bin < kBins; ++bin) {
            const double value = m_spectrum[bin] * kScale;
            m_out[bin] = value > -2147483649.0 && value < 2147483648.0 ? static_cast<int32_t>(value)
                                                                       : std::numeric_limits<int32_t>::min();
        }
        benchmark::DoNotOptimize(overload);
        benchmark::DoNotOptimize(m_out.data());
        benchmark::ClobberMemory();
    }

private:
    static constexpr double kFloor = 0.0;
    static constexpr double kKeep = 0.0;
    static constexpr double kShare = 1.0;
    static constexpr double kScale = 5.0;

    double* m_input;
    fftw_complex* m_output;
    fftw_plan m_plan;
    std::vector<double> m_window;
    std::vector<double> m_spectrum;
    std::vector<int32_t> m_out;
};

void BM_SpectrumFFTW(benchmark::State& state)
{
    FftwRun run;
    size_t next = 0;
    for (auto _ : state)
        run.Block(Blocks()[next++ % kBlockCount].data());
}
BENCHMARK(BM_SpectrumFFTW)->Repetitions(5)->ReportAggregatesOnly(true);

template <class Run>
double TimeBatch(Run& run, size_t first, int count)
{
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i)
        run.Block(Blocks()[(first + i) % kBlockCount].data());
    return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count() / count;
}

double Median(std::vector<double> values)
{
    const auto middle = values.begin() + values.size() / 2;
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

// Alternating batches see the same machine noise, so the ratio holds steady on
// a busy machine.
void BM_SpectrumRatio(benchmark::State& state)
{
    constexpr int kBatch = 16;
    EngineRun engine;
    FftwRun fftw;
    std::vector<double> engineTimes;
    std::vector<double> fftwTimes;
    size_t next = 0;
    for (auto _ : state) {
        engineTimes.push_back(TimeBatch(engine, next, kBatch));
        fftwTimes.push_back(TimeBatch(fftw, next, kBatch));
        next += kBatch;
    }
    const double engineMedian = Median(engineTimes);
    const double fftwMedian = Median(fftwTimes);
    state.counters["cdft_us"] = engineMedian;
    state.counters["fftw_us"] = fftwMedian;
    state.counters["ratio"] = engineMedian / fftwMedian;
}

BENCHMARK(BM_SpectrumRatio)->Iterations(2000)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace
#endif
