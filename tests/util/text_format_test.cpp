// The module's string and its formatting dialect: buffer sizes, copies, the
// mirror in both directions, string-table loading; the length estimate bounds the
// text, the Windows prefixes are read, and the output matches the C library where
// the two agree.
#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include <ruzada/kernel.h>

#include "base/ExtensionModule.h"
#include "util/NString.h"
#include "util/PrintfFormat.h"

namespace {

std::string Text(CNString& text) { return static_cast<const char*>(text); }

TEST(NString, CapacityRoundsDownToSixteenAndAddsSixteenAndCopiesNeverShare)
{
    CNString text;
    EXPECT_EQ(text.GetCapacity(), 16);
    for (const auto& [length, capacity] : {std::pair{16, 16}, {17, 32}, {40, 48}, {5, 48}, {0, 16}}) {
        const std::string assigned(static_cast<size_t>(length), 'c');
        text = assigned.c_str();
        EXPECT_EQ(text.GetCapacity(), capacity) << length;
        EXPECT_EQ(Text(text), assigned);
    }
    text = "0123456789abcdefXYZ";
    CNString copy(text);
    text = static_cast<const char*>(text) + 10;  // its own tail
    EXPECT_EQ(Text(text), "abcdefXYZ");
    text = static_cast<const char*>(nullptr);
    EXPECT_EQ(Text(text), "");
    const CNString& alias = copy;
    copy = alias;
    EXPECT_EQ(Text(copy), "0123456789abcdefXYZ");
}

TEST(NString, ChangesReachTheMirrorAndBackAndSetActsOnTheMirrorOnly)
{
    CNString text;
    text.__CStringSet("ignored");
    EXPECT_EQ(text.__CStringStr(), nullptr);
    text = "before";
    std::string& mirror = text;
    EXPECT_EQ(mirror, "before");
    mirror = "changed by the framework";
    EXPECT_EQ(Text(text), "changed by the framework");
    EXPECT_EQ(text.GetLength(), 24);
    EXPECT_EQ(static_cast<std::string>(static_cast<const CNString&>(text)), "changed by the framework");
    // A copy takes the mirrored text, and no mirror of its own.
    CNString copy(text);
    EXPECT_EQ(Text(copy), "changed by the framework");
    EXPECT_FALSE(copy.__CStringPtr());

    text.Format("%d-%d", 1, 2);
    EXPECT_EQ(mirror, "1-2");
    text.__CStringSet("from set");
    EXPECT_EQ(Text(text), "from set");
    text.__CStringCleanup();
    EXPECT_FALSE(text.__CStringPtr());
    EXPECT_EQ(Text(text), "from set");
}

// A string table under a handle of the test's own, made the module's resource
// handle for the test. Entry `id` of kLongIds holds id - 7000 characters.
class NStringTable : public ::testing::Test {
protected:
    static constexpr unsigned kFormatId = 7001;
    static constexpr unsigned kMissingId = 7999;
    static constexpr unsigned kLongIds[] = {7253, 7254, 7509, 7510};

    void SetUp() override
    {
        m_saved = std::exchange(g_ExtModule.hResource, Handle());
        std::vector<std::string> texts;
        std::vector<StringTableEntry> entries{{kFormatId, "%s has %d"}};
        for (const unsigned id : kLongIds)
            texts.push_back(Entry(id));
        for (size_t i = 0; i < texts.size(); ++i)
            entries.push_back({kLongIds[i], texts[i].c_str()});
        RegisterStringTable(Handle(), entries.data(), entries.size());
    }
    void TearDown() override
    {
        UnregisterStringTable(Handle());
        g_ExtModule.hResource = m_saved;
    }
    static HMODULE Handle() { return reinterpret_cast<HMODULE>(&s_anchor); }
    static std::string Entry(unsigned id)
    {
        std::string text;
        for (unsigned i = 0; i < id - 7000; ++i)
            text += static_cast<char>('a' + i * 7 % 26);
        return text;
    }

private:
    static inline char s_anchor;
    HMODULE m_saved = nullptr;
};

TEST_F(NStringTable, EntriesLoadWholeByTheirSixteenBitIdentifiersAndMissingOnesGiveAnEmptyString)
{
    CNString text;
    for (const unsigned id : kLongIds) {
        EXPECT_EQ(text.LoadText(id), 1) << id;
        EXPECT_EQ(Text(text), Entry(id)) << id;
    }
    EXPECT_EQ(text.LoadText(kMissingId), 0);
    EXPECT_EQ(Text(text), "");
    text = "previous";
    EXPECT_EQ(text.LoadText(nullptr, kLongIds[0]), 0);
    EXPECT_EQ(Text(text), "");

    // Only 16-bit identifiers are loaded, and formatting keeps the last error.
    text = "untouched";
    for (const uintptr_t notAnId : {uintptr_t{0}, uintptr_t{0x10000}, reinterpret_cast<uintptr_t>("a pointer")})
        EXPECT_FALSE(text.LoadIfTextId(reinterpret_cast<const void*>(notAnId)));
    EXPECT_EQ(Text(text), "untouched");
    EXPECT_TRUE(text.LoadIfTextId(reinterpret_cast<const void*>(uintptr_t{7254})));
    EXPECT_EQ(Text(text), Entry(7254));

    SetLastError(1234);
    text.FormatId(kFormatId, "port", 3);
    EXPECT_EQ(Text(text), "port has 3");
    text.Format("%s=%I64d", "mask", int64_t{1} << 33);
    EXPECT_EQ(Text(text), "mask=8589934592");
    text.FormatId(kMissingId, "port", 3);
    EXPECT_EQ(Text(text), "");
    EXPECT_EQ(GetLastError(), 1234u);
}

TEST(NString, FormatArgumentsMayBeTheStringItselfAndUnformattableRequestsGiveAnEmptyString)
{
    CNString text;
    text = "0123456789";
    text.Format("%s|%s|%s", static_cast<const char*>(text), static_cast<const char*>(text), "tail");
    EXPECT_EQ(Text(text), "0123456789|0123456789|tail");
    text.Format(text);
    EXPECT_EQ(Text(text), "0123456789|0123456789|tail");
    for (const char* format : {static_cast<const char*>(nullptr), "%99999999999d|%.1999999999f"}) {
        text = "before";
        text.Format(format, 1, 2.0);
        EXPECT_EQ(Text(text), "") << (format ? format : "null");
    }
    // The program runs in the "C" locale, which cannot spell an accented letter.
    text = "before";
    text.Format("%ls", L"caf\u00e9");
    EXPECT_EQ(Text(text), "");
}

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
