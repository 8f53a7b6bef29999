#include "spectrum/FFTThread.h"

#include <cstdio>

#include <RUZada.h>

#include "audio/Feeders.h"
#include "audio/Level.h"
#include "audio/SoundControl.h"
#include "core/Globals.h"
#include "core/Guard.h"
#include "core/Messages.h"
#include "core/Worker.h"

[[gnu::init_priority(1003)]] CDFT g_DFT;
std::atomic<uint8_t> g_bDFTReady{0};
std::atomic<uint8_t> g_bSlowMode{0};
std::atomic<uint8_t> g_bSlowMachine{0};
HANDLE g_hFFTThread = nullptr;

namespace {

constexpr int kBlockSamples = 2048;
constexpr int kBlockBytes = kBlockSamples * 2;
// Below this figure (about 1.57 GHz) a machine counts as slow.
constexpr DWORD kSlowMachineSpeed = 1500;
constexpr DWORD kPollMs = 10;
constexpr int kLastBin = 1023;
// The waterfall's configuration: each block replaces the spectrum (N = 1), on
// the log scale with floor 0, at a gain of 5: one output step is 2 dB.
constexpr int32_t kAverageCount = 1;
constexpr double kGain = 5.0;
constexpr int32_t kLogScaleFloorZero = 1;

// Keeps the backlog below one block: the oldest audio goes first.
void TrimBacklog()
{
    while (g_FFTFifo.size() >= 2 * kBlockBytes)
        g_FFTFifo.discard(kBlockBytes);
}

void Transform(const int16_t* raw)
{
    double block[kBlockSamples];
    for (int i = 0; i < kBlockSamples; ++i)
        block[i] = raw[i];
    g_DFT.Process(block);
    int16_t level = GetLevelPercent();
    if (level == 0)
        level = 1;
    PostToHost(g_uMsgRawData, CardRate(), level);
}

}  // namespace

void InitDFT()
{
    char line[80];
    std::snprintf(line, sizeof line, "RUZada::InitDFT: Detected %d kHz machine.\r\n", static_cast<int>(g_dwCpuSpeed));
    OutputDebugStringA(line);
    if (g_dwCpuSpeed < kSlowMachineSpeed)
        g_bSlowMode = 1;
    g_DFT.Configure(kAverageCount, kGain, kLogScaleFloorZero);
    g_DFT.Clear();
    if (g_bSlowMode)
        OutputDebugStringA("RUZada::InitDFT: Slow PC Mode enabled.\n");
    g_hFFTThread = StartWorker(FFTThreadProc, "FFT");
    g_bSlowMachine = g_bSlowMode.load();
    g_bDFTReady = 1;
}

DWORD FFTThreadProc(void*)
{
    g_bFFTThreadAlive = 1;
    bool phase = true;
    int16_t raw[kBlockSamples];
    while (g_bRunning) {
        if (WaitForSingleObject(g_hStopRecvEvent, kPollMs) == WAIT_OBJECT_0)
            break;
        g_bSlowMode = (g_bSlowMachine || g_bSlowFFT) ? 1 : 0;
        TrimBacklog();
        if (g_FFTFifo.size() >= kBlockBytes) {
            g_FFTFifo.read(raw, kBlockBytes);
            phase = !phase;
            if (!(g_bSlowMode && phase))
                Transform(raw);
        }
    }
    g_bFFTThreadAlive = 0;
    return 0;
}

int GetDGFFTData(int32_t* data, int maxBin, int firstBin, int lastBin)
{
    return Guarded(1, [&] {
        if (lastBin > maxBin || lastBin < firstBin || !g_bDFTReady)
            return 1;
        // The engine holds bins 0 to kLastBin only, and a null array holds none.
        if (!data || firstBin < 0 || lastBin > kLastBin)
            return 1;
        return g_DFT.GetSpectrum(firstBin, lastBin, data) == 1 ? 1 : 0;
    });
}
