// Files on disk: searching a directory, reading settings files, loading libraries.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <ruzada/kernel.h>

namespace {

namespace fs = std::filesystem;

class TempDir {
public:
    TempDir()
    {
        std::string pattern = (fs::temp_directory_path() / "kernel-test-XXXXXX").string();
        m_path = mkdtemp(pattern.data());
    }
    ~TempDir() { fs::remove_all(m_path); }

    const fs::path& Path() const { return m_path; }

    fs::path Write(const std::string& name, const std::string& content) const
    {
        const fs::path file = m_path / name;
        std::ofstream(file, std::ios::binary) << content;
        return file;
    }

private:
    fs::path m_path;
};

// Sets (or, with nullopt, removes) an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, std::optional<std::string> value) : m_name(name)
    {
        if (const char* old = getenv(name))
            m_old = old;
        Apply(value);
    }
    ~ScopedEnv() { Apply(m_old); }

private:
    void Apply(const std::optional<std::string>& value)
    {
        if (value)
            setenv(m_name, value->c_str(), 1);
        else
            unsetenv(m_name);
    }

    const char* m_name;
    std::optional<std::string> m_old;
};

std::vector<std::string> FindAll(const std::string& pattern)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA(pattern.c_str(), &data);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do
        names.emplace_back(data.cFileName);
    while (FindNextFileA(search, &data));
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
    EXPECT_TRUE(FindClose(search));
    return names;
}

// ---- file search ----------------------------------------------------------------

class KernelFindFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* name : {"DGz.so", "DGA.so", "DGa.so", "DG_x.so", "DG1.so", "xDG.so", "DGa.so.bak", "DG.so"})
            dir.Write(name, "x");
        fs::create_directory(dir.Path() / "DGdir.so");
        fs::create_symlink(dir.Path() / "DGz.so", dir.Path() / "DGlink.so");
        fs::create_symlink(dir.Path() / "missing", dir.Path() / "DGdangling.so");
    }

    std::string Pattern(const std::string& file) const { return (dir.Path() / file).string(); }

    TempDir dir;
};

TEST_F(KernelFindFile, FindsRegularFilesSortedByteWise)
{
    EXPECT_EQ(FindAll(Pattern("DG*.so")),
              (std::vector<std::string>{"DG.so", "DG1.so", "DGA.so", "DG_x.so", "DGa.so", "DGlink.so", "DGz.so"}));
}

TEST_F(KernelFindFile, QuestionMarksMatchOneCharacter)
{
    EXPECT_EQ(FindAll(Pattern("DG?.so")), (std::vector<std::string>{"DG1.so", "DGA.so", "DGa.so", "DGz.so"}));
    EXPECT_EQ(FindAll(Pattern("*DG.s?")), (std::vector<std::string>{"DG.so", "xDG.so"}));
    EXPECT_EQ(FindAll(Pattern("DGa.so*")), (std::vector<std::string>{"DGa.so", "DGa.so.bak"}));
}

TEST_F(KernelFindFile, SearchesTheCurrentDirectoryWithoutOne)
{
    const fs::path previous = fs::current_path();
    fs::current_path(dir.Path());
    const std::vector<std::string> names = FindAll("DG?.so");
    fs::current_path(previous);
    EXPECT_EQ(names.size(), 4u);
}

TEST_F(KernelFindFile, NoMatchAndNoDirectoryAreReported)
{
    WIN32_FIND_DATAA data;
    SetLastError(0);
    EXPECT_EQ(FindFirstFileA(Pattern("NO*.so").c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    SetLastError(0);
    EXPECT_EQ(FindFirstFileA(Pattern("DGdir.so").c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    SetLastError(0);
    EXPECT_EQ(FindFirstFileA(Pattern("absent/DG*.so").c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    SetLastError(0);
    EXPECT_EQ(FindFirstFileA(nullptr, &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(KernelFindFile, SearchHandlesAreHandles)
{
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA(Pattern("DG?.so").c_str(), &data);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    EXPECT_EQ(WaitForSingleObject(search, 0), WAIT_FAILED);
    EXPECT_TRUE(FindClose(search));
    SetLastError(0);
    EXPECT_FALSE(FindNextFileA(search, &data));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(FindClose(search));

    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EXPECT_FALSE(FindClose(event));
    EXPECT_TRUE(CloseHandle(event));
}

// ---- settings files -------------------------------------------------------------

class KernelProfile : public ::testing::Test {
protected:
    UINT Read(const char* section, const char* key, int defaultValue = 77)
    {
        return GetPrivateProfileIntA(section, key, defaultValue, file.c_str());
    }

    TempDir dir;
    std::string file = dir.Write("RUZada.ini",
                                 "; settings\r\n"
                                 "[Other]\r\n"
                                 "UseFFT=5\r\n"
                                 "  [ RUZada ]  \r\n"
                                 "UseFFT=1\r\n"
                                 "  slowfft  =  2  \r\n"
                                 "Use48KHz=-1\r\n"
                                 ";Hidden=4\r\n"
                                 "Hex=0x1F\r\n"
                                 "Garbage=abc\r\n"
                                 "Trailing=12abc\r\n"
                                 "Quoted=\"9\"\r\n"
                                 "Empty=\r\n"
                                 "UseFFT=3\r\n"
                                 "[ruzada]\r\n"
                                 "Late=8\r\n")
                           .string();
};

TEST_F(KernelProfile, ReadsNumbersAsWindowsDoes)
{
    EXPECT_EQ(Read("RUZada", "UseFFT"), 1u);
    EXPECT_EQ(Read("ruzada", "SLOWFFT"), 2u);
    EXPECT_EQ(Read("RUZada", "Use48KHz"), 0xFFFFFFFFu);
    EXPECT_EQ(Read("RUZada", "Hex"), 31u);
    EXPECT_EQ(Read("RUZada", "Trailing"), 12u);
    EXPECT_EQ(Read("RUZada", "Quoted"), 9u);
    EXPECT_EQ(Read("Other", "UseFFT"), 5u);
    EXPECT_EQ(Read("RUZada", "Late"), 8u);
}

TEST_F(KernelProfile, NonNumbersGiveZeroAndMissingEntriesTheDefault)
{
    EXPECT_EQ(Read("RUZada", "Garbage"), 0u);
    EXPECT_EQ(Read("RUZada", "Empty"), 0u);
    EXPECT_EQ(Read("RUZada", "Hidden"), 77u);
    EXPECT_EQ(Read("RUZada", "Absent", -2), 0xFFFFFFFEu);
    EXPECT_EQ(Read("Absent", "UseFFT"), 77u);
    EXPECT_EQ(GetPrivateProfileIntA("RUZada", "UseFFT", 6, (dir.Path() / "absent.ini").c_str()), 6u);
    EXPECT_EQ(GetPrivateProfileIntA(nullptr, "UseFFT", 6, file.c_str()), 6u);
    EXPECT_EQ(GetPrivateProfileIntA("RUZada", nullptr, 6, file.c_str()), 6u);
}

TEST_F(KernelProfile, TheFileIsReadAtEveryCall)
{
    dir.Write("RUZada.ini", "[RUZada]\nUseFFT=1\n");
    EXPECT_EQ(Read("RUZada", "UseFFT", 0), 1u);
    dir.Write("RUZada.ini", "[RUZada]\n");
    EXPECT_EQ(Read("RUZada", "UseFFT", 0), 0u);
}

TEST_F(KernelProfile, ABareFileNameIsLookedForInTheUsersSettings)
{
    char path[MAX_PATH];
    {
        ScopedEnv named("RUZADA_INI", file);
        ASSERT_EQ(GetPrivateProfilePath("RUZada.ini", path, sizeof path), file.size());
        EXPECT_EQ(std::string(path), file);
        EXPECT_EQ(GetPrivateProfileIntA("RUZada", "UseFFT", 0, "RUZada.ini"), 1u);
    }
    ScopedEnv unnamed("RUZADA_INI", "");
    {
        ScopedEnv config("XDG_CONFIG_HOME", dir.Path().string());
        GetPrivateProfilePath("RUZada.ini", path, sizeof path);
        EXPECT_EQ(std::string(path), file);
        EXPECT_EQ(GetPrivateProfileIntA("RUZada", "SlowFFT", 0, "RUZada.ini"), 2u);
    }
    ScopedEnv noConfig("XDG_CONFIG_HOME", std::nullopt);
    {
        ScopedEnv home("HOME", "/home/op");
        GetPrivateProfilePath("RUZada.ini", path, sizeof path);
        EXPECT_EQ(std::string(path), "/home/op/.config/RUZada.ini");
    }
    ScopedEnv noHome("HOME", std::nullopt);
    SetLastError(0);
    EXPECT_EQ(GetPrivateProfilePath("RUZada.ini", path, sizeof path), 0u);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(GetPrivateProfileIntA("RUZada", "UseFFT", 4, "RUZada.ini"), 4u);
}

TEST_F(KernelProfile, APathThatDoesNotFitIsCut)
{
    char path[8];
    SetLastError(0);
    EXPECT_EQ(GetPrivateProfilePath("/etc/RUZada.ini", path, sizeof path), sizeof path);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_STREQ(path, "/etc/RU");
}

// ---- libraries ------------------------------------------------------------------

const std::string kPlatformLibrary = std::string(RUZADA_BIN_DIR) + "/libruzada_platform.so";

std::string SystemText(DWORD code)
{
    char* text = nullptr;
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0x400, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result = text ? std::string(text, length) : "";
    LocalFree(text);
    return result;
}

TEST(KernelLoader, AMissingFileIsNotFoundAndTheTextSaysWhy)
{
    const TempDir dir;
    const std::string path = (dir.Path() / "DGAbsent.so").string();
    SetLastError(0);
    EXPECT_EQ(LoadLibraryA(path.c_str()), nullptr);
    ASSERT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    const std::string text = SystemText(ERROR_MOD_NOT_FOUND);
    EXPECT_EQ(text.rfind("The specified module could not be found. (", 0), 0u) << text;
    EXPECT_NE(text.find(path), std::string::npos) << text;
    EXPECT_EQ(text.substr(text.size() - 3), ")\r\n");
}

TEST(KernelLoader, AFileThatIsNoLibraryIsABadFormatAndTheTextSaysWhy)
{
    const TempDir dir;
    const std::string path = dir.Write("DGText.so", "not a library\n").string();
    SetLastError(0);
    EXPECT_EQ(LoadLibraryA(path.c_str()), nullptr);
    ASSERT_EQ(GetLastError(), ERROR_BAD_EXE_FORMAT);
    const std::string text = SystemText(ERROR_BAD_EXE_FORMAT);
    EXPECT_EQ(text.rfind("%1 is not a valid Win32 application. (", 0), 0u) << text;
    EXPECT_NE(text.find(path), std::string::npos) << text;

    // The reason belongs to the failing thread and to the failing code.
    std::string elsewhere;
    std::thread([&] { elsewhere = SystemText(ERROR_BAD_EXE_FORMAT); }).join();
    EXPECT_EQ(elsewhere, "%1 is not a valid Win32 application.\r\n");
    EXPECT_EQ(SystemText(ERROR_MOD_NOT_FOUND), "The specified module could not be found.\r\n");

    // A later load clears it.
    HMODULE library = LoadLibraryA(kPlatformLibrary.c_str());
    ASSERT_NE(library, nullptr);
    EXPECT_EQ(SystemText(ERROR_BAD_EXE_FORMAT), "%1 is not a valid Win32 application.\r\n");
    FreeLibrary(library);
}

TEST(KernelLoader, ABareNameThatLoadsNothingIsNotFound)
{
    SetLastError(0);
    EXPECT_EQ(LoadLibraryA("libDGnothing-such.so"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    SetLastError(0);
    EXPECT_EQ(LoadLibraryA(nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(KernelLoader, ALibraryHasOneHandleAndFindsItsOwnExportsOnly)
{
    HMODULE loaded = LoadLibraryA(kPlatformLibrary.c_str());
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(GetModuleHandleFromAddress(reinterpret_cast<const void*>(&CreateEventA)), loaded);
    EXPECT_EQ(GetProcAddress(loaded, "CreateEventA"), reinterpret_cast<void*>(&CreateEventA));

    SetLastError(0);
    EXPECT_EQ(GetProcAddress(loaded, "NoSuchExport"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
    // The C library is a dependency of the platform, not part of it.
    SetLastError(0);
    EXPECT_EQ(GetProcAddress(loaded, "malloc"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
    EXPECT_TRUE(FreeLibrary(loaded));
}

TEST(KernelLoader, LoadsCountAndAnUncountedHandleCannotBeFreed)
{
    HMODULE self = GetModuleHandleFromAddress(reinterpret_cast<const void*>(&CreateEventA));
    ASSERT_NE(self, nullptr);
    SetLastError(0);
    EXPECT_FALSE(FreeLibrary(self));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(GetProcAddress(self, "SetEvent"), reinterpret_cast<void*>(&SetEvent));

    ASSERT_EQ(LoadLibraryA(kPlatformLibrary.c_str()), self);
    ASSERT_EQ(LoadLibraryA(kPlatformLibrary.c_str()), self);
    EXPECT_TRUE(FreeLibrary(self));
    EXPECT_TRUE(FreeLibrary(self));
    EXPECT_FALSE(FreeLibrary(self));
    EXPECT_TRUE(PinModule(self));
}

TEST(KernelLoader, BadModuleHandlesAreRefused)
{
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    for (HMODULE bad : {HMODULE{}, reinterpret_cast<HMODULE>(event), reinterpret_cast<HMODULE>(0x7776)}) {
        char path[MAX_PATH];
        SetLastError(0);
        EXPECT_EQ(GetProcAddress(bad, "CreateEventA"), nullptr);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        EXPECT_FALSE(FreeLibrary(bad));
        EXPECT_EQ(GetModuleFileNameA(bad, path, sizeof path), 0u);
        EXPECT_FALSE(PinModule(bad));
    }
    CloseHandle(event);
    SetLastError(0);
    EXPECT_EQ(GetModuleHandleFromAddress(nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
}

TEST(KernelLoader, TheFileNameIsTheLibrarysPath)
{
    HMODULE self = GetModuleHandleFromAddress(reinterpret_cast<const void*>(&CreateEventA));
    char path[4096];
    const DWORD length = GetModuleFileNameA(self, path, sizeof path);
    ASSERT_GT(length, 0u);
    EXPECT_EQ(length, std::strlen(path));
    EXPECT_EQ(path[0], '/');
    EXPECT_TRUE(fs::equivalent(path, kPlatformLibrary)) << path;

    char cut[6];
    SetLastError(0);
    EXPECT_EQ(GetModuleFileNameA(self, cut, sizeof cut), sizeof cut);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(std::string(cut), std::string(path, sizeof cut - 1));
}

}  // namespace
