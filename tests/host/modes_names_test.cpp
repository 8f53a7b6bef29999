// Mode names and snap-in file names as a host reads them: built-in names, a
// snap-in's own name, and exactly what lands in the caller's buffer.
#include <clocale>

#include "module_fixture.h"

namespace {

using rz::test::host::DetectedLine;
using rz::test::host::ModesTest;
using Lines = std::vector<std::string>;

std::u16string Widened(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

TEST_F(ModesTest, ModesWithoutARecordHaveTheirBuiltInName)
{
    EXPECT_EQ(NameW(8), u"THROB");
    EXPECT_EQ(NameW(uint64_t{1} << 17), u"SSTV");
    EXPECT_EQ(NameA(128), "FEC (AMTOR)");
    for (const uint64_t mode : {uint64_t{0}, uint64_t{3}, uint64_t{1} << 18, uint64_t{1} << 32, ~uint64_t{0}})
        EXPECT_EQ(NameW(mode), u"Unknown") << mode;
}

TEST_F(ModesTest, AnEmptyNameFallsBackToTheBuiltInOneNotToALaterRecord)
{
    dir.AddTestSnapin("DGemptyname.so", "DGa.so");
    dir.AddTestSnapin("DGmask1.so", "DGb.so");
    ASSERT_EQ(api.EnumRUZadas(), 1u);
    EXPECT_EQ(NameW(1), u"PSK");
}

TEST_F(ModesTest, LenBoundsWhatIsWrittenAndAShortBufferIsLeftUnterminated)
{
    dir.AddTestSnapin("DGmask1.so");
    ASSERT_EQ(api.EnumRUZadas(), 1u);
    const std::string path = PathOf("DGmask1.so");

    std::u16string wide(12, u'~');
    api.GetRUZadaNameW(1, wide.data(), 4);
    EXPECT_EQ(wide, u"Test~~~~~~~~");
    api.GetRUZadaNameW(1, wide.data(), 11);
    EXPECT_EQ(wide, std::u16string(u"Test PSK\0\0\0~", 12));
    wide.assign(12, u'~');
    api.GetRUZadaNameW(64, wide.data(), 3);
    EXPECT_EQ(wide, u"ASC~~~~~~~~~");
    wide.assign(12, u'~');
    api.GetRUZadaFileNameW(1, wide.data(), 5);
    EXPECT_EQ(wide, Widened(path.substr(0, 5)) + u"~~~~~~~");

    std::string narrow(12, '~');
    api.GetRUZadaNameA(1, narrow.data(), 4);
    EXPECT_EQ(narrow, "Test~~~~~~~~");
    api.GetRUZadaNameA(1, narrow.data(), 11);
    EXPECT_EQ(narrow, std::string("Test PSK\0~~~", 12));
    narrow.assign(12, '~');
    api.GetRUZadaFileNameA(1, narrow.data(), 5);
    EXPECT_EQ(narrow, path.substr(0, 5) + "~~~~~~~");
}

TEST_F(ModesTest, FileNamesAreTheRecordedPathsAndEmptyForModesWithoutARecord)
{
    dir.AddTestSnapin("DGmask1.so");
    ASSERT_EQ(api.EnumRUZadas(), 1u);
    EXPECT_EQ(FileNameW(1), Widened(PathOf("DGmask1.so")));
    EXPECT_EQ(FileNameA(1), PathOf("DGmask1.so"));

    std::u16string wide(3, u'~');
    api.GetRUZadaFileNameW(8, wide.data(), 3);
    EXPECT_EQ(wide, std::u16string(u"\0~~", 3));
    std::string narrow(3, '~');
    api.GetRUZadaFileNameA(8, narrow.data(), 3);
    EXPECT_EQ(narrow, std::string("\0~~", 3));
}

TEST_F(ModesTest, NullBuffersAndZeroLengthsAreLeftAlone)
{
    dir.AddTestSnapin("DGmask1.so");
    ASSERT_EQ(api.EnumRUZadas(), 1u);
    for (const uint64_t mode : {uint64_t{1}, uint64_t{8}}) {
        api.GetRUZadaNameW(mode, nullptr, 16);
        api.GetRUZadaNameA(mode, nullptr, 16);
        api.GetRUZadaFileNameW(mode, nullptr, 16);
        api.GetRUZadaFileNameA(mode, nullptr, 16);
        std::u16string wide(4, u'~');
        std::string narrow(4, '~');
        api.GetRUZadaNameW(mode, wide.data(), 0);
        api.GetRUZadaFileNameW(mode, wide.data(), 0);
        api.GetRUZadaNameA(mode, narrow.data(), 0);
        api.GetRUZadaFileNameA(mode, narrow.data(), 0);
        EXPECT_EQ(wide, u"~~~~");
        EXPECT_EQ(narrow, "~~~~");
    }
}

TEST_F(ModesTest, ANameFillingAll256UnitsIsReadNoFurther)
{
    dir.AddTestSnapin("DGlongname.so");
    ASSERT_EQ(api.EnumRUZadas(), 2u);
    const std::u16string name(256, kLongNameUnit);
    const std::string narrowName(256, static_cast<char>(kLongNameUnit));
    EXPECT_EQ(DiscoveryLines(), (Lines{DetectedLine(narrowName, PathOf("DGlongname.so"))}));

    std::u16string wide(300, u'~');
    api.GetRUZadaNameW(2, wide.data(), 290);
    EXPECT_EQ(wide, name + std::u16string(34, u'\0') + std::u16string(10, u'~'));

    std::string narrow(300, '~');
    api.GetRUZadaNameA(2, narrow.data(), 290);
    EXPECT_EQ(narrow, narrowName + '\0' + std::string(43, '~'));
    narrow.assign(300, '~');
    api.GetRUZadaNameA(2, narrow.data(), 256);
    EXPECT_EQ(narrow, narrowName + std::string(44, '~'));
}

TEST_F(ModesTest, NarrowTextFollowsTheCurrentLocaleAndNeverHoldsHalfACharacter)
{
    ASSERT_NE(std::setlocale(LC_ALL, "C.UTF-8"), nullptr);
    const std::string utf8Name =
        "Gr\xC3\xBC\xC3\x9F"
        "e \xF0\x9D\x84\x9E";
    const std::string fileName = "DG\xF0\x9D\x84\x9E.so";
    dir.AddTestSnapin("DGunicode.so", fileName);
    ASSERT_EQ(api.EnumRUZadas(), 16u);

    EXPECT_EQ(DiscoveryLines(), (Lines{DetectedLine(utf8Name, PathOf(fileName))}));
    EXPECT_EQ(NameW(16), u"Gr\u00FC\u00DFe \U0001D11E");
    EXPECT_EQ(NameA(16), utf8Name);
    EXPECT_EQ(FileNameW(16), Widened(dir.Path()) + u"/DG\U0001D11E.so");

    std::string narrow(12, '~');
    api.GetRUZadaNameA(16, narrow.data(), 3);
    EXPECT_EQ(narrow, "Gr~~~~~~~~~~");
    api.GetRUZadaNameA(16, narrow.data(), 11);
    EXPECT_EQ(narrow, utf8Name.substr(0, 8) + "~~~~");
    const size_t beforePair = dir.Path().size() + 3;
    std::u16string wide(beforePair + 2, u'~');
    api.GetRUZadaFileNameW(16, wide.data(), static_cast<UINT>(beforePair + 1));
    EXPECT_EQ(wide, Widened(dir.Path()) + u"/DG~~");

    // The C locale has no form for the u with diaeresis: the text ends before it.
    ASSERT_NE(std::setlocale(LC_ALL, "C"), nullptr);
    narrow.assign(12, '~');
    api.GetRUZadaNameA(16, narrow.data(), 12);
    EXPECT_EQ(narrow, std::string("Gr\0~~~~~~~~~", 12));
}

}  // namespace
