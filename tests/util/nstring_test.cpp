// The module's string: buffer sizes, the mirror in both directions, string-table
// loading and formatting.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <ruzada/kernel.h>

#include "core/globals.h"
#include "util/NString.h"

namespace {

std::string Text(CNString& text) { return static_cast<const char*>(text); }

TEST(NStringBuffer, CapacityRoundsDownToSixteenAndAddsSixteen)
{
    CNString text;
    EXPECT_EQ(text.GetLength(), 0);
    EXPECT_EQ(text.GetCapacity(), 16);

    text = std::string(16, 'a').c_str();
    EXPECT_EQ(text.GetCapacity(), 16);
    text = std::string(17, 'b').c_str();
    EXPECT_EQ(text.GetCapacity(), 32);
    text = std::string(40, 'c').c_str();
    EXPECT_EQ(text.GetCapacity(), 48);
    EXPECT_EQ(text.GetLength(), 40);
    EXPECT_EQ(Text(text), std::string(40, 'c'));

    // A shorter text fits the buffer it has.
    text = "short";
    EXPECT_EQ(text.GetCapacity(), 48);
    text = "";
    EXPECT_EQ(text.GetCapacity(), 16);
}

TEST(NStringBuffer, NullAssignmentGivesAnEmptyString)
{
    CNString text;
    text = "something";
    text = static_cast<const char*>(nullptr);
    EXPECT_EQ(text.GetLength(), 0);
    EXPECT_EQ(Text(text), "");
}

TEST(NStringBuffer, CopiesNeverShareABuffer)
{
    CNString original;
    original = "shared?";
    CNString copy(original);
    CNString assigned;
    assigned = original;
    EXPECT_EQ(Text(copy), "shared?");
    EXPECT_EQ(Text(assigned), "shared?");
    EXPECT_NE(static_cast<const char*>(copy), static_cast<const char*>(original));

    original = "changed";
    EXPECT_EQ(Text(copy), "shared?");
    EXPECT_EQ(Text(assigned), "shared?");
}

TEST(NStringBuffer, AssigningItsOwnTailKeepsTheCharacters)
{
    CNString text;
    text = "0123456789abcdefXYZ";
    const char* own = text;
    text = own + 10;
    EXPECT_EQ(Text(text), "abcdefXYZ");
    text = text;
    EXPECT_EQ(Text(text), "abcdefXYZ");
}

TEST(NStringMirror, ChangesOfTheMirrorReachTheString)
{
    CNString text;
    text = "before";
    EXPECT_FALSE(text.__CStringPtr());
    EXPECT_EQ(text.__CStringStr(), nullptr);

    std::string& mirror = text;
    EXPECT_TRUE(text.__CStringPtr());
    EXPECT_EQ(mirror, "before");

    mirror = "changed by the framework";
    EXPECT_EQ(Text(text), "changed by the framework");
    EXPECT_EQ(text.GetLength(), 24);
    EXPECT_EQ(static_cast<std::string>(static_cast<const CNString&>(text)), "changed by the framework");
}

TEST(NStringMirror, ChangesOfTheStringReachTheMirror)
{
    CNString text;
    std::string& mirror = text;
    text = "set on the string";
    EXPECT_EQ(mirror, "set on the string");
    text.Format("%d-%d", 1, 2);
    EXPECT_EQ(mirror, "1-2");
    EXPECT_STREQ(text.__CStringStr(), "1-2");
}

TEST(NStringMirror, ACopyTakesTheSourcesMirroredText)
{
    CNString source;
    source = "old";
    std::string& mirror = source;
    mirror = "new";
    CNString copy(source);
    EXPECT_EQ(Text(copy), "new");
    EXPECT_FALSE(copy.__CStringPtr());
}

TEST(NStringMirror, SetAndCleanupActOnTheMirrorOnly)
{
    CNString text;
    text.__CStringSet("ignored");
    EXPECT_FALSE(text.__CStringPtr());

    text = "kept";
    const std::string& mirror = text;
    EXPECT_EQ(mirror, "kept");
    text.__CStringSet("from set");
    EXPECT_EQ(Text(text), "from set");

    text.__CStringCleanup();
    EXPECT_FALSE(text.__CStringPtr());
    EXPECT_EQ(Text(text), "from set");
    text.__CStringAlloc();
    EXPECT_STREQ(text.__CStringStr(), "");
}

// A string table registered under a handle of the test's own, made the module's
// resource handle for the duration of a test.
class NStringTable : public ::testing::Test {
protected:
    static constexpr unsigned kFormatId = 7001;
    static constexpr unsigned kMissingId = 7999;

    void SetUp() override
    {
        m_saved = g_ExtModule.hResource;
        g_ExtModule.hResource = Handle();
    }
    void TearDown() override
    {
        UnregisterStringTable(Handle());
        g_ExtModule.hResource = m_saved;
    }

    static HMODULE Handle() { return reinterpret_cast<HMODULE>(&s_anchor); }

    // Entries 7253, 7254, 7509, 7510 and 7300 hold that many characters less 7000.
    static std::string Entry(unsigned id)
    {
        std::string text;
        for (unsigned i = 0; i < id - 7000; ++i)
            text += static_cast<char>('a' + i * 7 % 26);
        return text;
    }

    void Register()
    {
        m_texts.clear();
        for (const unsigned id : {7253u, 7254u, 7300u, 7509u, 7510u})
            m_texts.emplace_back(id, Entry(id));
        m_texts.emplace_back(kFormatId, "%s has %d");
        std::vector<StringTableEntry> entries;
        for (const auto& [id, text] : m_texts)
            entries.push_back({id, text.c_str()});
        RegisterStringTable(Handle(), entries.data(), entries.size());
    }

private:
    static inline char s_anchor;
    HMODULE m_saved = nullptr;
    std::vector<std::pair<unsigned, std::string>> m_texts;
};

TEST_F(NStringTable, LongEntriesLoadWhole)
{
    Register();
    for (const unsigned id : {7253u, 7254u, 7300u, 7509u, 7510u}) {
        CNString text;
        EXPECT_EQ(text.LoadText(id), 1) << id;
        EXPECT_EQ(Text(text), Entry(id)) << id;
        EXPECT_EQ(text.GetLength(), static_cast<int>(id - 7000)) << id;
    }
}

TEST_F(NStringTable, MissingEntryGivesAnEmptyString)
{
    Register();
    CNString text;
    text = "previous";
    EXPECT_EQ(text.LoadText(kMissingId), 0);
    EXPECT_EQ(Text(text), "");
    text = "previous";
    EXPECT_EQ(text.LoadText(nullptr, 7300), 0);
    EXPECT_EQ(Text(text), "");
}

TEST_F(NStringTable, LoadIfTextIdTakesOnlySixteenBitIdentifiers)
{
    Register();
    CNString text;
    text = "untouched";
    EXPECT_FALSE(text.LoadIfTextId(nullptr));
    EXPECT_FALSE(text.LoadIfTextId(reinterpret_cast<const void*>(uintptr_t{0x10000})));
    EXPECT_FALSE(text.LoadIfTextId("a pointer"));
    EXPECT_EQ(Text(text), "untouched");

    EXPECT_TRUE(text.LoadIfTextId(reinterpret_cast<const void*>(uintptr_t{kMissingId})));
    EXPECT_EQ(Text(text), "");
    EXPECT_TRUE(text.LoadIfTextId(reinterpret_cast<const void*>(uintptr_t{7254})));
    EXPECT_EQ(Text(text), Entry(7254));
}

TEST_F(NStringTable, FormatIdFormatsWithTheEntryAndKeepsTheLastError)
{
    Register();
    CNString text;
    SetLastError(1234);
    text.FormatId(kFormatId, "port", 3);
    EXPECT_EQ(Text(text), "port has 3");
    text.FormatId(kMissingId, "port", 3);
    EXPECT_EQ(Text(text), "");
    EXPECT_EQ(GetLastError(), 1234u);
}

// Records that Format reached the formatting slot, and disturbs the last error there.
class CountingString : public CNString {
public:
    void FormatList(const char* format, va_list arguments) override
    {
        ++calls;
        SetLastError(ERROR_INVALID_DATA);
        CNString::FormatList(format, arguments);
    }
    int calls = 0;
};

TEST(NStringFormat, FormatGoesThroughFormatListAndKeepsTheLastError)
{
    CountingString text;
    SetLastError(77);
    text.Format("%s=%I64d", "mask", int64_t{1} << 33);
    EXPECT_EQ(text.calls, 1);
    EXPECT_EQ(Text(text), "mask=8589934592");
    EXPECT_EQ(GetLastError(), 77u);
}

TEST(NStringFormat, BufferHoldsAtLeastTheEstimate)
{
    CNString text;
    text.Format("%d", 5);
    EXPECT_EQ(Text(text), "5");
    EXPECT_EQ(text.GetLength(), 1);
    EXPECT_GE(text.GetCapacity(), 32);

    const std::string long_text(100, 'L');
    text = long_text.c_str();
    text.Format("%c", 'x');
    EXPECT_EQ(Text(text), "x");
    EXPECT_GE(text.GetCapacity(), 100);
}

TEST(NStringFormat, ArgumentsMayBeTheStringItself)
{
    CNString text;
    text = "0123456789";
    text.Format("%s|%s|%s", static_cast<const char*>(text), static_cast<const char*>(text), "tail");
    EXPECT_EQ(Text(text), "0123456789|0123456789|tail");
    text.Format(text);
    EXPECT_EQ(Text(text), "0123456789|0123456789|tail");
}

TEST(NStringFormat, UnformattableRequestsGiveAnEmptyString)
{
    CNString text;
    text = "before";
    text.Format(nullptr);
    EXPECT_EQ(Text(text), "");

    const auto started = std::chrono::steady_clock::now();
    text = "before";
    text.Format("%99999999999d|%.1999999999f", 1, 2.0);
    EXPECT_EQ(Text(text), "");
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));

    text = "before";
    text.Format("%ls", L"caf\u00e9");
    EXPECT_EQ(Text(text), "");
}

}  // namespace
