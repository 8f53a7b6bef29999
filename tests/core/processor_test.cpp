#include <gtest/gtest.h>

#include <utility>

#include "core/Processor.h"

// The figure is the clock in units of 2^20 Hz, printed as kilohertz up to 1023
// and as "MHz" with the low ten bits as thousandths from 1024 on.
TEST(Processor, LineReadsInKilohertzUpTo1023ThenInMegahertz)
{
    const std::pair<uint64_t, const char*> cases[] = {
        {2'000'000'000ull, "Detected 1.883 MHz Processor\r\n"},
        {900'000'000ull, "Detected 858 KHz Processor\r\n"},
        {1023ull << 20, "Detected 1023 KHz Processor\r\n"},
        {1024ull << 20, "Detected 1.000 MHz Processor\r\n"},
        {0, "Detected 0 KHz Processor\r\n"},
    };
    for (const auto& [hz, line] : cases)
        EXPECT_EQ(ProcessorLine(hz), line) << hz;
    // Only the low 32 bits of the figure are kept.
    EXPECT_EQ(ProcessorSpeedFigure((1ull << 52) + (5ull << 20)), 5u);
}

TEST(Processor, MeasurementCountsCyclesOfARunningClock)
{
    // Whatever the cycle source, a real machine counts at least tens of MHz.
    EXPECT_GT(MeasureProcessorHz(), 10'000'000ull);
}
