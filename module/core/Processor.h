// The processor measurement: time-stamp-counter cycles per second, and the line
// that reports it.
#pragma once

#include <cstdint>
#include <string>

#include <ruzada/wintypes.h>

// Counts cycles over one sixteenth of a second of the high-resolution counter.
uint64_t MeasureProcessorHz();
// The speed figure: cycles per second in units of 2^20.
DWORD ProcessorSpeedFigure(uint64_t hz);
// "Detected %d.%03d MHz Processor\r\n" or "Detected %d KHz Processor\r\n".
std::string ProcessorLine(uint64_t hz);
