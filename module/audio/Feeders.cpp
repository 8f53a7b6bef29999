#include "audio/Feeders.h"

#include "audio/Level.h"
#include "core/Globals.h"

[[gnu::init_priority(1004)]] CSerialFIFO g_FFTFifo;

namespace {
void Feed(int16_t* samples, int count, int16_t gate)
{
    if (count <= 0)
        return;
    if (g_bUseFFT)
        g_FFTFifo.write(samples, count * 2);
    FeedLevelMeter(samples, count, gate);
}
}  // namespace

void FeedRecvSamples(int16_t* samples, int count) { Feed(samples, count, g_nSquelch); }

void FeedXmitSamples(int16_t* samples, int count) { Feed(samples, count, 0); }
