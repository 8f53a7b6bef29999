// Mode records in a host process: discovery and its lines, the names a host
// reads back, and the calls made into a mode's snap-ins.
#include <clocale>
#include <filesystem>

#include "ModuleFixture.h"

namespace {

namespace fs = std::filesystem;
using rz::test::host::DetectedLine;
using rz::test::host::ModesTest;
using Lines = std::vector<std::string>;

std::u16string Widened(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

// Every file the search loads is reported: a library not named DG*.so is never loaded.
TEST_F(ModesTest, EachFileIsReportedInNameOrderAndOtherLibrariesAreNeverLoaded)
{
    dir.AddTestSnapin("DGmask4.so", "ruzadatrap.so");
    dir.Write("DGbroken.so", "not a shared library");
    dir.AddTestSnapin("DGmask4.so", "DGa.so");
    dir.AddTestSnapin("DGmask1.so", "DGb.so");
    dir.AddTestSnapin("DGnosetup.so");

    EXPECT_EQ(api.InitDG(host.Handle()), 5u);
    const Lines lines = DiscoveryLines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], DetectedLine("Test MFSK", PathOf("DGa.so")));
    EXPECT_EQ(lines[1], DetectedLine("Test PSK", PathOf("DGb.so")));
    const std::string cannotLoad = "RUZada: Cannot load DLL " + PathOf("DGbroken.so") + ": ";
    EXPECT_TRUE(lines[2].starts_with(cannotLoad) && lines[2].ends_with("\r\n")) << lines[2];
    EXPECT_GT(lines[2].size(), cannotLoad.size() + 2) << "no reason in: " << lines[2];
    EXPECT_EQ(lines[3], "RUZada: Detected non-snap-in DLL " + PathOf("DGnosetup.so") + "\r\n");
}

// While no mode is found every call searches again; once one is, Enum keeps the
// mask and each InitDG searches again and appends.
TEST_F(ModesTest, EnumSearchesUntilAModeIsFoundAndKeepsItAndEachInitDGSearchesAgainAndAppends)
{
    EXPECT_EQ(api.EnumRUZadas(), 0u);
    dir.AddTestSnapin("DGmask0.so");
    EXPECT_EQ(api.EnumRUZadas(), 0u);
    EXPECT_EQ(api.EnumRUZadas(), 0u);
    EXPECT_EQ(DiscoveryLines().size(), 2u);
    dir.AddTestSnapin("DGmask1.so", "DGb.so");
    ASSERT_EQ(api.EnumRUZadas(), 1u);
    fs::remove(PathOf("DGb.so"));
    dir.AddTestSnapin("DGmask4.so");
    EXPECT_EQ(api.EnumRUZadas(), 1u);
    EXPECT_EQ(DiscoveryLines().size(), 4u);

    // Mask 1 again, first in name order now: lookups keep finding the first record.
    dir.AddTestSnapin("DGemptyname.so", "DGa.so");
    EXPECT_EQ(api.InitDG(host.Handle()), 5u);
    EXPECT_EQ(DiscoveryLines().size(), 7u);
    EXPECT_EQ(NameA(1), "Test PSK");
    EXPECT_EQ(FileNameA(1), PathOf("DGb.so"));
    EXPECT_EQ(FileNameA(4), PathOf("DGmask4.so"));
}

// Paths of MAX_PATH - 1 characters fit with their terminator; one more does not.
TEST_F(ModesTest, ASnapinWhosePathDoesNotFitIsSkippedAsOneThatDoesNotLoad)
{
    const size_t nameRoom = MAX_PATH - 1 - dir.Path().size() - 1;
    const std::string fits = "DG" + std::string(nameRoom - 5, 'x') + ".so";
    const std::string tooLong = "DG" + std::string(nameRoom - 4, 'x') + ".so";
    dir.AddTestSnapin("DGmask4.so", fits);
    dir.AddTestSnapin("DGmask1.so", tooLong);

    EXPECT_EQ(api.EnumRUZadas(), 4u);
    const Lines lines = DiscoveryLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], DetectedLine("Test MFSK", PathOf(fits)));
    EXPECT_TRUE(lines[1].starts_with("RUZada: Cannot load DLL " + PathOf(tooLong) + ": ")) << lines[1];
    EXPECT_EQ(FileNameA(4), PathOf(fits));
}

TEST_F(ModesTest, ModesWithoutARecordOrWithAnEmptyNameHaveTheirBuiltInName)
{
    dir.AddTestSnapin("DGemptyname.so", "DGa.so");
    dir.AddTestSnapin("DGmask1.so", "DGb.so");
    ASSERT_EQ(api.EnumRUZadas(), 1u);
    EXPECT_EQ(NameW(1), u"PSK");
    EXPECT_EQ(NameW(8), u"THROB");
    EXPECT_EQ(NameW(uint64_t{1} << 17), u"SSTV");
    EXPECT_EQ(NameA(128), "FEC (AMTOR)");
    for (const uint64_t mode : {uint64_t{0}, uint64_t{3}, uint64_t{1} << 18, uint64_t{1} << 32, ~uint64_t{0}})
        EXPECT_EQ(NameW(mode), u"Unknown") << mode;
}

TEST_F(ModesTest, LenBoundsWhatIsWrittenAndAShortBufferIsLeftUnterminated)
{
    dir.AddTestSnapin("DGmask1.so");
    ASSERT_EQ(api.EnumRUZadas(), 1u);
    const std::string path = PathOf("DGmask1.so");
    EXPECT_EQ(Left(api.GetRUZadaNameW, 1, 4), u"Test~~~~~~~~");
    EXPECT_EQ(Left(api.GetRUZadaNameW, 1, 11), std::u16string(u"Test PSK\0\0\0~", 12));
    EXPECT_EQ(Left(api.GetRUZadaNameW, 64, 3), u"ASC~~~~~~~~~");
    EXPECT_EQ(Left(api.GetRUZadaFileNameW, 1, 5), Widened(path.substr(0, 5)) + u"~~~~~~~");
    EXPECT_EQ(Left(api.GetRUZadaNameA, 1, 4), "Test~~~~~~~~");
    EXPECT_EQ(Left(api.GetRUZadaNameA, 1, 11), std::string("Test PSK\0~~~", 12));
    EXPECT_EQ(Left(api.GetRUZadaFileNameA, 1, 5), path.substr(0, 5) + "~~~~~~~");
    EXPECT_EQ(FileNameW(1), Widened(path));
    // A mode without a record has an empty file name.
    EXPECT_EQ(Left(api.GetRUZadaFileNameW, 8, 3), std::u16string(u"\0~~~~~~~~~~~", 12));
    EXPECT_EQ(Left(api.GetRUZadaFileNameA, 8, 3), std::string("\0~~~~~~~~~~~", 12));
    // Null buffers and zero lengths are left alone.
    for (const uint64_t mode : {uint64_t{1}, uint64_t{8}}) {
        api.GetRUZadaNameW(mode, nullptr, 16);
        api.GetRUZadaNameA(mode, nullptr, 16);
        api.GetRUZadaFileNameW(mode, nullptr, 16);
        api.GetRUZadaFileNameA(mode, nullptr, 16);
        EXPECT_EQ(Left(api.GetRUZadaNameW, mode, 0) + Left(api.GetRUZadaFileNameW, mode, 0), std::u16string(24, u'~'));
        EXPECT_EQ(Left(api.GetRUZadaNameA, mode, 0) + Left(api.GetRUZadaFileNameA, mode, 0), std::string(24, '~'));
    }
}

TEST_F(ModesTest, ANameFillingAll256UnitsIsReadNoFurther)
{
    dir.AddTestSnapin("DGlongname.so");
    ASSERT_EQ(api.EnumRUZadas(), 2u);
    const std::string narrowName(256, static_cast<char>(kLongNameUnit));
    EXPECT_EQ(DiscoveryLines(), (Lines{DetectedLine(narrowName, PathOf("DGlongname.so"))}));
    EXPECT_EQ(Left(api.GetRUZadaNameW, 2, 290, 300),
              std::u16string(256, kLongNameUnit) + std::u16string(34, u'\0') + std::u16string(10, u'~'));
    EXPECT_EQ(Left(api.GetRUZadaNameA, 2, 290, 300), narrowName + '\0' + std::string(43, '~'));
    EXPECT_EQ(Left(api.GetRUZadaNameA, 2, 256, 300), narrowName + std::string(44, '~'));
}

TEST_F(ModesTest, NarrowTextFollowsTheCurrentLocaleAndNeverHoldsHalfACharacter)
{
    ASSERT_NE(std::setlocale(LC_ALL, "C.UTF-8"), nullptr);
    const std::string utf8Name =
        "Gr\xC3\xBC\xC3\x9F"
        "e \xF0\x9D\x84\x9E";
    const std::string fileName = "DG\xF0\x90\x80\x80.so";
    dir.AddTestSnapin("DGunicode.so", fileName);
    ASSERT_EQ(api.EnumRUZadas(), 16u);
    EXPECT_EQ(DiscoveryLines(), (Lines{DetectedLine(utf8Name, PathOf(fileName))}));
    EXPECT_EQ(NameW(16), u"Gr\u00FC\u00DFe \U0001D11E");
    EXPECT_EQ(NameA(16), utf8Name);
    EXPECT_EQ(FileNameW(16), Widened(dir.Path()) + u"/DG\U00010000.so");
    EXPECT_EQ(Left(api.GetRUZadaNameA, 16, 3), "Gr~~~~~~~~~~");
    EXPECT_EQ(Left(api.GetRUZadaNameA, 16, 11), utf8Name.substr(0, 8) + "~~~~");
    const size_t beforePair = dir.Path().size() + 3;
    EXPECT_EQ(Left(api.GetRUZadaFileNameW, 16, static_cast<UINT>(beforePair + 1), beforePair + 2),
              Widened(dir.Path()) + u"/DG~~");
    // The C locale has no form for the u with diaeresis: the text ends before it.
    ASSERT_NE(std::setlocale(LC_ALL, "C"), nullptr);
    EXPECT_EQ(Left(api.GetRUZadaNameA, 16, 12), std::string("Gr\0~~~~~~~~~", 12));
}

TEST_F(ModesTest, InvokeCallsTheNumberedFunctionWithTheHostWindowAndBothValues)
{
    dir.AddTestSnapin("DGmask1.so");
    dir.AddTestSnapin("DGmask4.so");
    const SnapinCallLog* calls = Calls("DGmask1.so");
    ASSERT_NE(calls, nullptr);
    ASSERT_EQ(api.InitDG(host.Handle()), 5u);
    EXPECT_EQ(api.InvokeRUZadaFunc(1, 7, 11, 0xFFFFFFFFu), kFuncResultBase + 1);
    EXPECT_EQ(calls->funcHost, host.Handle());
    EXPECT_EQ(calls->funcA, 11u);
    EXPECT_EQ(calls->funcB, 0xFFFFFFFFu);
    // Another number, a snap-in without the function, a mode without a record.
    EXPECT_EQ((std::vector<int>{api.InvokeRUZadaFunc(1, 8, 0, 0), api.InvokeRUZadaFunc(4, 7, 0, 0),
                                api.InvokeRUZadaFunc(2, 7, 0, 0), api.InvokeRUZadaSetup(4), api.InvokeRUZadaSetup(2)}),
              (std::vector<int>{2, 2, 2, 2, 2}));
    EXPECT_EQ(calls->funcCalls, 1);
    EXPECT_EQ(calls->setupCalls, 0);
}

// After InitDG twice, each record of the mode gets the call once, the last
// answer is returned, and a snap-in that no longer loads is skipped.
TEST_F(ModesTest, SetupRunsOncePerRecordAndSkipsASnapinThatNoLongerLoads)
{
    for (const char* name : {"DGa.so", "DGb.so", "DGc.so"})
        dir.AddTestSnapin("DGmask1.so", name);
    const SnapinCallLog* first = Calls("DGa.so");
    const SnapinCallLog* last = Calls("DGc.so");
    ASSERT_TRUE(first && last);
    ASSERT_EQ(api.InitDG(host.Handle()), 1u);
    ASSERT_EQ(api.InitDG(host.Handle()), 1u);
    fs::remove(PathOf("DGb.so"));
    EXPECT_EQ(api.InvokeRUZadaSetup(1), kSetupResultBase + 2);
    EXPECT_EQ(first->setupCalls, 2);
    EXPECT_EQ(last->setupCalls, 2);
    EXPECT_EQ(first->setupHost, host.Handle());
}

}  // namespace
