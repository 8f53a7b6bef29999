#include <gtest/gtest.h>

#include "core/Processor.h"

TEST(ProcessorLine, FastMachineReadsInMegahertzOfTwoToTheTwenty)
{
    EXPECT_EQ(ProcessorSpeedFigure(2'000'000'000ull), 1907u);
    EXPECT_EQ(ProcessorLine(2'000'000'000ull), "Detected 1.883 MHz Processor\r\n");
    EXPECT_EQ(ProcessorSpeedFigure(3'000'000'000ull), 2861u);
}

TEST(ProcessorLine, SlowMachineReadsInKilohertz)
{
    EXPECT_EQ(ProcessorSpeedFigure(900'000'000ull), 858u);
    EXPECT_EQ(ProcessorLine(900'000'000ull), "Detected 858 KHz Processor\r\n");
    // 1023 is the last figure printed in the short form, 1024 the first in the long one.
    EXPECT_EQ(ProcessorLine(1023ull << 20), "Detected 1023 KHz Processor\r\n");
    EXPECT_EQ(ProcessorLine(1024ull << 20), "Detected 1.000 MHz Processor\r\n");
    EXPECT_EQ(ProcessorLine(0), "Detected 0 KHz Processor\r\n");
}

TEST(ProcessorLine, FigureKeepsOnlyTheLow32BitsOfTheShift)
{
    EXPECT_EQ(ProcessorSpeedFigure((1ull << 52) + (5ull << 20)), 5u);
    EXPECT_EQ(ProcessorSpeedFigure(1'500'000'000ull), 1430u);
}

TEST(ProcessorMeasurement, CountsCyclesOfARunningClock)
{
    // Whatever the cycle source, a real machine counts at least tens of MHz.
    const uint64_t hz = MeasureProcessorHz();
    EXPECT_GT(hz, 10'000'000ull);
}
