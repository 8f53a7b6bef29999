// Discovery in a host process: which files beside the module become mode
// records, what the debug output says about each, and when the folder is searched.
#include <filesystem>
#include <stdexcept>

#include "module_fixture.h"

namespace {

namespace fs = std::filesystem;
using rz::test::host::DetectedLine;
using rz::test::host::ModesTest;
using Lines = std::vector<std::string>;

TEST_F(ModesTest, OnlySnapinsBecomeRecordsAndModuleLibrariesAreNeverLoaded)
{
    TraceLoads();
    dir.AddTestSnapin("DGmask4.so", "ruzadatrap.so");
    dir.AddTestSnapin("DGmask1.so");
    dir.AddTestSnapin("DGnosetup.so");

    EXPECT_EQ(api.EnumRUZadas(), 1u);
    EXPECT_EQ(DiscoveryLines(), (Lines{DetectedLine("Test PSK", PathOf("DGmask1.so")),
                                       "RUZada: Detected non-snap-in DLL " + PathOf("DGnosetup.so") + "\r\n"}));
    EXPECT_EQ(LoadTrace(), (Lines{PathOf("DGmask1.so"), PathOf("DGnosetup.so")}));
    EXPECT_EQ(FileNameA(1), PathOf("DGmask1.so"));
    EXPECT_EQ(FileNameA(4), "");
}

TEST_F(ModesTest, AFileThatDoesNotLoadIsReportedWithItsReasonAndSkipped)
{
    dir.AddFile("DGbroken.so", "not a shared library");
    dir.AddTestSnapin("DGmask1.so");

    EXPECT_EQ(api.EnumRUZadas(), 1u);
    const Lines lines = DiscoveryLines();
    ASSERT_EQ(lines.size(), 2u);
    const std::string cannotLoad = "RUZada: Cannot load DLL " + PathOf("DGbroken.so") + ": ";
    EXPECT_EQ(lines[0].rfind(cannotLoad, 0), 0u) << lines[0];
    EXPECT_GT(lines[0].size(), cannotLoad.size() + 2) << "no reason in: " << lines[0];
    EXPECT_TRUE(lines[0].ends_with("\r\n")) << lines[0];
    EXPECT_EQ(lines[1], DetectedLine("Test PSK", PathOf("DGmask1.so")));
}

TEST_F(ModesTest, MasksAreCombinedAndRecordsFollowTheNameOrder)
{
    dir.AddTestSnapin("DGmask4.so", "DGa.so");
    dir.AddTestSnapin("DGmask1.so", "DGb.so");

    EXPECT_EQ(api.InitDG(host.Handle()), 5u);
    EXPECT_EQ(DiscoveryLines(),
              (Lines{DetectedLine("Test MFSK", PathOf("DGa.so")), DetectedLine("Test PSK", PathOf("DGb.so"))}));
}

TEST_F(ModesTest, TheFoundMaskIsKeptUntilInitDGSearchesAgain)
{
    TraceLoads();
    dir.AddTestSnapin("DGmask1.so");
    ASSERT_EQ(api.EnumRUZadas(), 1u);

    fs::remove(PathOf("DGmask1.so"));
    dir.AddTestSnapin("DGmask4.so");
    EXPECT_EQ(api.EnumRUZadas(), 1u);
    EXPECT_EQ(DiscoveryLines().size(), 1u);
    EXPECT_EQ(LoadTrace().size(), 1u);

    // The records of the earlier search stay.
    EXPECT_EQ(api.InitDG(host.Handle()), 4u);
    EXPECT_EQ(FileNameA(1), PathOf("DGmask1.so"));
    EXPECT_EQ(FileNameA(4), PathOf("DGmask4.so"));
}

TEST_F(ModesTest, WhileNoModeIsFoundEveryCallSearchesAgain)
{
    EXPECT_EQ(api.EnumRUZadas(), 0u);
    dir.AddTestSnapin("DGmask0.so");
    EXPECT_EQ(api.EnumRUZadas(), 0u);
    EXPECT_EQ(api.EnumRUZadas(), 0u);
    EXPECT_EQ(DiscoveryLines().size(), 2u);

    dir.AddTestSnapin("DGmask1.so");
    EXPECT_EQ(api.EnumRUZadas(), 1u);
    EXPECT_EQ(api.EnumRUZadas(), 1u);
    EXPECT_EQ(DiscoveryLines().size(), 4u);
}

TEST_F(ModesTest, EachInitDGAppendsItsRecordsAndLookupsKeepFindingTheFirst)
{
    dir.AddTestSnapin("DGmask1.so", "DGb.so");
    ASSERT_EQ(api.InitDG(host.Handle()), 1u);
    // Mask 1 as well, and first in name order from now on.
    dir.AddTestSnapin("DGemptyname.so", "DGa.so");
    ASSERT_EQ(api.InitDG(host.Handle()), 1u);

    EXPECT_EQ(DiscoveryLines().size(), 3u);
    EXPECT_EQ(NameA(1), "Test PSK");
    EXPECT_EQ(FileNameA(1), PathOf("DGb.so"));
}

// Makes the temporary folder `length` characters long before the module folder
// is made inside it.
class LongTempDir {
protected:
    explicit LongTempDir(size_t length)
    {
        std::string base = (fs::temp_directory_path() / "ruzada-long-XXXXXX").string();
        if (!mkdtemp(base.data()))
            throw std::runtime_error("mkdtemp failed");
        m_root = base;
        std::string path = m_root;
        while (path.size() < length)
            path += "/" + std::string(std::min<size_t>(50, length - path.size() - 1), 'd');
        fs::create_directories(path);
        setenv("TMPDIR", path.c_str(), 1);
    }
    ~LongTempDir()
    {
        std::error_code ignored;
        fs::remove_all(m_root, ignored);
    }

private:
    std::string m_root;
};

// The module folder takes 240 characters: room for the module's own name, not
// for every snap-in's.
class LongPathTest : private LongTempDir, public ModesTest {
protected:
    LongPathTest() : LongTempDir(240 - std::string("/ruzada-test-XXXXXX").size()) {}
};

TEST_F(LongPathTest, ASnapinWhosePathDoesNotFitIsSkippedAsOneThatDoesNotLoad)
{
    ASSERT_EQ(dir.Path().size(), 240u);
    // Paths of MAX_PATH - 1 characters fit with their terminator; one more does not.
    const size_t nameRoom = MAX_PATH - 1 - dir.Path().size() - 1;
    const std::string fits = "DG" + std::string(nameRoom - 5, 'x') + ".so";
    const std::string tooLong = "DG" + std::string(nameRoom - 4, 'x') + ".so";
    dir.AddTestSnapin("DGmask4.so", fits);
    dir.AddTestSnapin("DGmask1.so", tooLong);

    EXPECT_EQ(api.EnumRUZadas(), 4u);
    const Lines lines = DiscoveryLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], DetectedLine("Test MFSK", PathOf(fits)));
    EXPECT_EQ(lines[1].rfind("RUZada: Cannot load DLL " + PathOf(tooLong) + ": ", 0), 0u) << lines[1];
    EXPECT_EQ(FileNameA(4), PathOf(fits));
}

}  // namespace
