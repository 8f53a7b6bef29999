// The spectrum's driver: the engine g_DFT, the FFT thread that feeds it from
// g_FFTFifo and announces each new spectrum with "DG_RAWDATA", and its state.
#pragma once

#include <atomic>
#include <cstdint>

#include <ruzada/wintypes.h>

#include "spectrum/CDFT.h"

extern CDFT g_DFT;
extern std::atomic<uint8_t> g_bDFTReady;
// Only every other block is transformed while set.
extern std::atomic<uint8_t> g_bSlowMode;
extern std::atomic<uint8_t> g_bSlowMachine;
// Kept so that unload can tell a thread that has not started yet from one that ended.
extern HANDLE g_hFFTThread;

// Configures the engine for the waterfall and starts the FFT thread (attach).
void InitDFT();
DWORD FFTThreadProc(void* unused);
