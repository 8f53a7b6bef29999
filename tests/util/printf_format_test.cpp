// The formatting dialect: the length estimate bounds the text, the Windows
// prefixes are read, and the output matches the C library where the two agree.
#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "util/PrintfFormat.h"

namespace {

int64_t Estimate(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    const int64_t estimate = EstimatePrintfLength(format, arguments);
    va_end(arguments);
    return estimate;
}

std::string Formatted(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    const int64_t length = FormatPrintf(nullptr, 0, format, arguments);
    std::string text;
    if (length >= 0) {
        std::vector<char> buffer(static_cast<size_t>(length) + 1);
        EXPECT_EQ(FormatPrintf(buffer.data(), buffer.size(), format, arguments), length);
        text.assign(buffer.data());
    }
    va_end(arguments);
    return text;
}

int64_t FormatInto(char* buffer, size_t size, const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    const int64_t length = FormatPrintf(buffer, size, format, arguments);
    va_end(arguments);
    return length;
}

template <typename... Arguments>
void ExpectEstimateCovers(const char* format, Arguments... arguments)
{
    const std::string text = Formatted(format, arguments...);
    EXPECT_FALSE(text.empty()) << format;
    EXPECT_GE(Estimate(format, arguments...), static_cast<int64_t>(text.size())) << format << " gave " << text;
}

// Never below the formatted length, so that a long text is never cut; huge
// fields count in full, so that they are refused rather than wrapped round.
TEST(PrintfEstimate, NeverBelowTheFormattedLengthAndHugeFieldsCountInFull)
{
    EXPECT_GE(Estimate("%99999999999d", 1), INT_MAX);
    EXPECT_GE(Estimate("%.2000000000f", 1.0), 2000000000);
    EXPECT_GE(Estimate("%*e", INT_MIN, 1.0), INT_MAX);
    EXPECT_EQ(Estimate(nullptr), 0);
    ExpectEstimateCovers("%s", static_cast<const char*>(nullptr));
    ExpectEstimateCovers("%5.2s|%*.*s|%*s|%S", "abcdef", 8, 2, "abcdef", -7, "ab", L"wide");
    ExpectEstimateCovers("%-40s|", "left");
    ExpectEstimateCovers("%d %i", INT_MIN, INT_MAX);
    ExpectEstimateCovers("%+.40d", -5);
    ExpectEstimateCovers("%x %X %o %#o %#x", UINT_MAX, UINT_MAX, UINT_MAX, UINT_MAX, UINT_MAX);
    ExpectEstimateCovers("%I64d %I64u", INT64_MIN, UINT64_MAX);
    ExpectEstimateCovers("%lld %ld %hd", LLONG_MIN, LONG_MIN, -32768);
    ExpectEstimateCovers("%f", DBL_MAX);
    ExpectEstimateCovers("%.10f", -DBL_MAX);
    ExpectEstimateCovers("%#.0f", 1e15);
    ExpectEstimateCovers("%400.2f", 1.5);
    ExpectEstimateCovers("%e", -DBL_MIN);
    ExpectEstimateCovers("%.150e", -DBL_MAX);
    ExpectEstimateCovers("%g %G", DBL_MAX, -DBL_MIN);
    ExpectEstimateCovers("%#.200g", -1e-5);
    ExpectEstimateCovers("%10c", 'z');
    ExpectEstimateCovers("%.0c", 'z');
    int local = 0;
    ExpectEstimateCovers("%p|%p", static_cast<void*>(&local), static_cast<void*>(nullptr));
    ExpectEstimateCovers("%Lf", 12345.678);
    ExpectEstimateCovers("%ls|%lc", L"wide text", static_cast<wint_t>(L'w'));
}

TEST(PrintfFormat, MatchesTheCLibraryWhereTheyAgree)
{
    char expected[512];
    std::snprintf(expected, sizeof expected, "%-8d|%+05d|%x|%#o|%.3f|%10.4e|%g|%c|%.2s|%%", 42, 7, 0xBEEFu, 8u, 3.14159,
                  -12345.678, 1e-5, 'q', "abcdef");
    EXPECT_EQ(Formatted("%-8d|%+05d|%x|%#o|%.3f|%10.4e|%g|%c|%.2s|%%", 42, 7, 0xBEEFu, 8u, 3.14159, -12345.678, 1e-5,
                        'q', "abcdef"),
              expected);
    std::snprintf(expected, sizeof expected, "%*.*s|%-*d|", 6, 3, "abcdef", 4, 9);
    EXPECT_EQ(Formatted("%*.*s|%*d|", 6, 3, "abcdef", -4, 9), expected);
    EXPECT_EQ(Formatted("%s", static_cast<const char*>(nullptr)), "(null)");
}

TEST(PrintfFormat, ReadsTheWindowsPrefixesAndCountAndUnknownConversionsWriteNothing)
{
    EXPECT_EQ(Formatted("%I64d|%I64u", INT64_MIN, UINT64_MAX),
              std::to_string(INT64_MIN) + "|" + std::to_string(UINT64_MAX));
    EXPECT_EQ(Formatted("%I64d then %d", int64_t{1} << 40, 7), std::to_string(int64_t{1} << 40) + " then 7");
    EXPECT_EQ(Formatted("%Lf|%Fs%Ns", 2.5, "far", "near"), "2.500000|farnear");
    EXPECT_EQ(Formatted("%hs|%hS|%S|%C", "nar", "row", L"wide", static_cast<wint_t>(L'c')), "nar|row|wide|c");
    EXPECT_EQ(Formatted("%hd|%hhu", 65537, 258u), "1|2");
    int count = 42;
    EXPECT_EQ(Formatted("ab%ncd%y%d", &count, 7), "abcd7");
    EXPECT_EQ(count, 42);
    EXPECT_EQ(Formatted("tail %"), "tail ");
    EXPECT_EQ(Formatted("tail %5l"), "tail ");
}

TEST(PrintfFormat, CutsToTheBufferLikeSnprintfAndFailuresAnswerMinusOne)
{
    char buffer[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(FormatInto(buffer, sizeof buffer, "ab%s", "cdef"), 6);
    EXPECT_STREQ(buffer, "abc");
    EXPECT_EQ(FormatInto(buffer, sizeof buffer, "%d", 12345), 5);
    EXPECT_STREQ(buffer, "123");
    EXPECT_EQ(FormatInto(nullptr, 0, "abcdef"), 6);
    EXPECT_EQ(FormatInto(buffer, sizeof buffer, nullptr), -1);
}

}  // namespace
