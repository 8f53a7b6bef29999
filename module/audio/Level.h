// The level meter over the last 1000 samples fed, and the squelch threshold.
// Both feeders may run at once (receive and transmit threads), so the meter
// serialises its updates; readers see a consistent, possibly slightly old, sum.
#pragma once

#include <atomic>
#include <cstdint>

extern std::atomic<int16_t> g_nSquelch;

// Feeds samples to the meter under one hold of its lock. With `gate` the squelch
// threshold read once for the block: each sample at which the running level
// exceeds it is replaced by 0 after it has been measured.
void FeedLevelMeter(int16_t* samples, int count, int16_t gate);
// The RMS of the last 1000 samples in whole percent of 32767, rounded toward zero.
int16_t GetLevelPercent();
