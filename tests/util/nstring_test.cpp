// The module's string: buffer sizes, copies, the mirror in both directions,
// string-table loading and formatting.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <ruzada/kernel.h>

#include "base/ExtensionModule.h"
#include "util/NString.h"

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

TEST_F(NStringTable, LongEntriesLoadWholeAndMissingOnesGiveAnEmptyString)
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
}

TEST_F(NStringTable, OnlySixteenBitIdentifiersAreLoadedAndFormattingKeepsTheLastError)
{
    CNString text;
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

}  // namespace
