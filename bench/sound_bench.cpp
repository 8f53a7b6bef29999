// What an open sound card costs: process CPU time per second of audio with
// CSound open both ways on the loopback backend at 8000 (and at 48000, as with
// "Use48KHz"), audio played in the transmit thread's batches and read back every
// 5 ms as the receive thread does. The reference, measured in the same run, is a
// bare thread that wakes every 5 ms for the same second: the least any polling
// reader costs. Counters: cpu_ms per second of audio, and vs_poll, the ratio of
// the card to the reference.
#include <benchmark/benchmark.h>

#include <time.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "audio/Sound.h"

namespace {

using namespace std::chrono_literals;

constexpr auto kPoll = 5ms;
constexpr int kBatchesPerSecond = 40;

double ProcessCpuSeconds()
{
    timespec now = {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec + now.tv_nsec * 1e-9;
}

// CPU seconds that a thread waking every 5 ms spends in one second.
double PollingReference()
{
    const double start = ProcessCpuSeconds();
    std::thread([] {
        const auto end = std::chrono::steady_clock::now() + 1s;
        while (std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(kPoll);
    }).join();
    return ProcessCpuSeconds() - start;
}

void BM_OpenCardOnLoopback(benchmark::State& state)
{
    setenv("RUZADA_AUDIODRIVER", "loopback", 1);
    const auto rate = static_cast<uint32_t>(state.range(0));
    const WAVEFORMATEX format = {WAVE_FORMAT_PCM, 1, rate, 2 * rate, 2, 16, 0};
    const double reference = PollingReference();

    CSound sound;
    if (sound.OpenIn(&format, WAVE_MAPPER) != 0 || sound.OpenOut(&format, WAVE_MAPPER) != 0) {
        state.SkipWithError("the loopback card did not open");
        return;
    }
    std::atomic<bool> receiving{true};
    std::atomic<long> received{0};
    std::thread receive([&] {
        std::vector<short> block(8192);
        while (receiving) {
            std::this_thread::sleep_for(kPoll);
            received += std::max(0, sound.ReadIn(block.data(), static_cast<int>(block.size())));
        }
    });
    const int batch = static_cast<int>(rate) / kBatchesPerSecond;
    std::vector<short> audio(batch, 1000);

    double cpu = 0;
    for (auto _ : state) {
        const double start = ProcessCpuSeconds();
        const auto begun = std::chrono::steady_clock::now();
        for (int i = 1; i <= kBatchesPerSecond; ++i) {
            sound.WriteOut(audio.data(), batch);
            std::this_thread::sleep_until(begun + std::chrono::milliseconds(1000) * i / kBatchesPerSecond);
        }
        cpu += ProcessCpuSeconds() - start;
    }
    receiving = false;
    receive.join();
    sound.CloseIn();
    sound.CloseOut();

    const double perSecond = cpu / static_cast<double>(state.iterations());
    state.counters["cpu_ms"] = perSecond * 1000;
    state.counters["vs_poll"] = perSecond / reference;
    state.counters["received_s"] = static_cast<double>(received) / rate / static_cast<double>(state.iterations());
}

BENCHMARK(BM_OpenCardOnLoopback)->Arg(8000)->Arg(48000)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
