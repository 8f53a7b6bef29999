#include "core/Processor.h"

#include <cstdio>

#include <RUZada.h>
#include <ruzada/kernel.h>

#include "core/Globals.h"

uint64_t MeasureProcessorHz()
{
    int64_t frequency = 0;
    QueryPerformanceFrequency(&frequency);
    const uint64_t sixteenth = static_cast<uint64_t>(frequency) >> 4;
    const uint64_t start = ReadCycleCounter();
    int64_t now = 0;
    QueryPerformanceCounter(&now);
    const uint64_t target = static_cast<uint64_t>(now) + sixteenth;
    do {
        QueryPerformanceCounter(&now);
    } while (static_cast<uint64_t>(now) < target);
    const uint64_t end = ReadCycleCounter();
    return (end - start) * 16;
}

DWORD ProcessorSpeedFigure(uint64_t hz) { return static_cast<DWORD>(hz >> 20); }

std::string ProcessorLine(uint64_t hz)
{
    const DWORD speed = ProcessorSpeedFigure(hz);
    char line[64];
    if (speed > 1023)
        std::snprintf(line, sizeof line, "Detected %d.%03d MHz Processor\r\n", static_cast<int>(speed >> 10),
                      static_cast<int>(speed & 1023));
    else
        std::snprintf(line, sizeof line, "Detected %d KHz Processor\r\n", static_cast<int>(speed));
    return line;
}

DWORD GetDGVersion(void) { return RUZADA_VERSION; }

DWORD GetDGProcessorSpeedKHz(void) { return ProcessorSpeedFigure(g_qwCpuHz); }
