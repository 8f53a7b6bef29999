// The conversion between the card's 48000 samples per second and the snap-ins'
// 8000: plain picking and plain repetition, no filter.
#pragma once

#include <cstdint>

// With "Use48KHz" the card runs at 48000, six times the module's 8000.
inline constexpr int kRate48KHzFactor = 6;

// dst[k] = src[6k]; returns n / 6, the number of dst samples written.
int Decimate6(int16_t* dst, const int16_t* src, int n);
// Writes each of the n source samples six times in a row; returns 6n.
int Repeat6(int16_t* dst, const int16_t* src, int n);
