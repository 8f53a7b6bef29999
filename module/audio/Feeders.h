// The only way audio reaches the spectrum and the level meter: every block of
// 8000-samples-per-second audio on the receive and transmit paths passes here.
#pragma once

#include <cstdint>

#include "util/SerialFIFO.h"

// Raw little-endian 16-bit samples in time order; the FFT thread is its only consumer.
extern CSerialFIFO g_FFTFifo;

// Receive path: queues the block for the spectrum as it arrived, then runs it
// through the level meter and the squelch gate, which may zero samples in place.
void FeedRecvSamples(int16_t* samples, int count);
// Transmit path: queues the block for the spectrum and meters it, unchanged.
void FeedXmitSamples(int16_t* samples, int count);
