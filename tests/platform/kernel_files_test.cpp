// Files on disk and texts: searching a directory, reading settings files,
// loading libraries, system error messages, string tables, and the debug output
// that message boxes fall back to.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "PlatformTesting.h"

namespace {

namespace fs = std::filesystem;
using namespace rz::test::platform;

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

class KernelFindFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* name : {"DGz.so", "DGA.so", "DGa.so", "DG_x.so", "DG1.so", "xDG.so", "DGa.so.bak", "DG.so"})
            dir.Write(name, "x");
        fs::create_directory(dir.Path("DGdir.so"));
        fs::create_symlink(dir.Path("DGz.so"), dir.Path("DGlink.so"));
        fs::create_symlink(dir.Path("missing"), dir.Path("DGdangling.so"));
    }
    TempDir dir;
};

TEST_F(KernelFindFile, WildcardsMatchRegularFilesSortedByteWise)
{
    using Names = std::vector<std::string>;
    const std::pair<const char*, Names> cases[] = {
        {"DG*.so", {"DG.so", "DG1.so", "DGA.so", "DG_x.so", "DGa.so", "DGlink.so", "DGz.so"}},
        {"DG?.so", {"DG1.so", "DGA.so", "DGa.so", "DGz.so"}},
        {"*DG.s?", {"DG.so", "xDG.so"}},
        {"DGa.so*", {"DGa.so", "DGa.so.bak"}},
    };
    for (const auto& [pattern, names] : cases)
        EXPECT_EQ(FindAll(dir.Path(pattern)), names) << pattern;
}

class KernelProfile : public ::testing::Test {
protected:
    TempDir dir;
    std::string file =
        dir.Write("RUZada.ini",
                  "; settings\r\n[Other]\r\nUseFFT=5\r\n  [ RUZada ]  \r\nUseFFT=1\r\n  slowfft  =  2  \r\n"
                  "Use48KHz=-1\r\n;Hidden=4\r\nHex=0x1F\r\nGarbage=abc\r\nTrailing=12abc\r\n"
                  "Quoted=\"9\"\r\nEmpty=\r\nUseFFT=3\r\n[ruzada]\r\nLate=8\r\n");
};

TEST_F(KernelProfile, ReadsNumbersAsWindowsDoes)
{
    struct Case {
        const char* section;
        const char* key;
        int defaultValue;
        UINT expected;
    };
    const Case cases[] = {
        {"RUZada", "UseFFT", 77, 1},  {"ruzada", "SLOWFFT", 77, 2},   {"RUZada", "Use48KHz", 77, 0xFFFFFFFF},
        {"RUZada", "Hex", 77, 31},    {"RUZada", "Trailing", 77, 12}, {"RUZada", "Quoted", 77, 9},
        {"Other", "UseFFT", 77, 5},   {"RUZada", "Late", 77, 8},      {"RUZada", "Garbage", 77, 0},
        {"RUZada", "Empty", 77, 0},   {"RUZada", "Hidden", 77, 77},   {"RUZada", "Absent", -2, 0xFFFFFFFE},
        {"Absent", "UseFFT", 77, 77}, {nullptr, "UseFFT", 6, 6},      {"RUZada", nullptr, 6, 6},
    };
    for (const Case& c : cases)
        EXPECT_EQ(GetPrivateProfileIntA(c.section, c.key, c.defaultValue, file.c_str()), c.expected)
            << (c.section ? c.section : "null") << "/" << (c.key ? c.key : "null");
    EXPECT_EQ(GetPrivateProfileIntA("RUZada", "UseFFT", 6, dir.Path("absent.ini").c_str()), 6u);
    // The file is read again at every call.
    dir.Write("RUZada.ini", "[RUZada]\n");
    EXPECT_EQ(GetPrivateProfileIntA("RUZada", "UseFFT", 0, file.c_str()), 0u);
}

TEST_F(KernelProfile, ReadsTextsWithTheirDefaultsAndCutsToTheBuffer)
{
    const std::tuple<const char*, const char*, const char*, std::string> cases[] = {
        {"ruzada", "Quoted", "x", "9"},
        {"RUZada", "Garbage", "x", "abc"},
        {"RUZada", "Absent", "  BPSK31 ", "BPSK31"},
        {"RUZada", "Absent", nullptr, ""},
        {"RUZada", "Absent", "too long a text", "too lon"},
    };
    for (const auto& [section, key, fallback, expected] : cases) {
        char text[8];
        EXPECT_EQ(GetPrivateProfileStringA(section, key, fallback, text, sizeof text, file.c_str()), expected.size());
        EXPECT_EQ(text, expected) << key;
    }
    EXPECT_EQ(GetPrivateProfileStringA("RUZada", "Hex", "", nullptr, 0, file.c_str()), 0u);
}

// The environment is put back by hand: each test runs in a process of its own.
TEST_F(KernelProfile, ABareFileNameIsLookedForInTheUsersSettings)
{
    const std::string home = getenv("HOME") ? getenv("HOME") : "";
    char path[MAX_PATH];
    SetVariable("RUZADA_INI", file.c_str());
    ASSERT_EQ(GetPrivateProfilePath("RUZada.ini", path, sizeof path), file.size());
    EXPECT_EQ(std::string(path), file);
    EXPECT_EQ(GetPrivateProfileIntA("RUZada", "UseFFT", 0, "RUZada.ini"), 1u);

    SetVariable("RUZADA_INI", "");
    SetVariable("XDG_CONFIG_HOME", dir.Path().c_str());
    GetPrivateProfilePath("RUZada.ini", path, sizeof path);
    EXPECT_EQ(std::string(path), file);
    EXPECT_EQ(GetPrivateProfileIntA("RUZada", "SlowFFT", 0, "RUZada.ini"), 2u);

    SetVariable("XDG_CONFIG_HOME", nullptr);
    SetVariable("HOME", "/home/op");
    GetPrivateProfilePath("RUZada.ini", path, sizeof path);
    EXPECT_EQ(std::string(path), "/home/op/.config/RUZada.ini");

    SetVariable("HOME", nullptr);
    EXPECT_EQ(Attempt([&] { return GetPrivateProfilePath("RUZada.ini", path, sizeof path); }),
              (Outcome{0, ERROR_PATH_NOT_FOUND}));
    EXPECT_EQ(GetPrivateProfileIntA("RUZada", "UseFFT", 4, "RUZada.ini"), 4u);
    SetVariable("HOME", home.c_str());

    char cut[8];
    EXPECT_EQ(Attempt([&] { return GetPrivateProfilePath("/etc/RUZada.ini", cut, sizeof cut); }),
              (Outcome{sizeof cut, ERROR_INSUFFICIENT_BUFFER}));
    EXPECT_STREQ(cut, "/etc/RU");
}

const std::string kPlatformLibrary = std::string(RUZADA_BIN_DIR) + "/libruzada_platform.so";

std::string SystemText(DWORD code)
{
    char* text = nullptr;
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0x400, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result = text ? std::string(text, length) : "";
    LocalFree(text);
    return result;
}

TEST(KernelLoader, FailedLoadsSayWhyInTheTextOfTheirCodeOnTheFailingThreadUntilTheNextLoad)
{
    const TempDir dir;
    const std::string notFound = "The specified module could not be found.\r\n";
    const std::string badFormat = "%1 is not a valid Win32 application.\r\n";
    const std::tuple<std::string, DWORD, std::string> failures[] = {
        {dir.Path("DGAbsent.so"), ERROR_MOD_NOT_FOUND, notFound},
        {dir.Write("DGText.so", "not a library\n"), ERROR_BAD_EXE_FORMAT, badFormat},
        {"libDGnothing-such.so", ERROR_MOD_NOT_FOUND, notFound}};
    for (const auto& [path, error, plain] : failures) {
        EXPECT_EQ(Attempt([&] { return LoadLibraryA(path.c_str()); }), (Outcome{0, error})) << path;
        const std::string text = SystemText(error);
        EXPECT_TRUE(text.starts_with(plain.substr(0, plain.size() - 2) + " (") && text.ends_with(")\r\n") &&
                    text.find(path) != std::string::npos)
            << text;
        std::string elsewhere;
        std::thread([&] { elsewhere = SystemText(error); }).join();
        EXPECT_EQ(elsewhere, plain);
    }
    HMODULE library = LoadLibraryA(kPlatformLibrary.c_str());
    ASSERT_NE(library, nullptr);
    EXPECT_EQ(SystemText(ERROR_MOD_NOT_FOUND), notFound);
    FreeLibrary(library);
    EXPECT_EQ(Attempt([] { return LoadLibraryA(nullptr); }), (Outcome{0, ERROR_INVALID_PARAMETER}));
}

// A library finds its own exports only, knows its path, and refuses bad handles.
TEST(KernelLoader, LoadsAreCountedAndBadModuleHandlesAreRefused)
{
    HMODULE self = GetModuleHandleFromAddress(reinterpret_cast<const void*>(&CreateEventA));
    ASSERT_NE(self, nullptr);
    EXPECT_EQ(Attempt([&] { return FreeLibrary(self); }), (Outcome{FALSE, ERROR_INVALID_HANDLE})) << "not loaded";
    ASSERT_EQ(LoadLibraryA(kPlatformLibrary.c_str()), self);
    ASSERT_EQ(LoadLibraryA(kPlatformLibrary.c_str()), self);
    EXPECT_EQ(GetProcAddress(self, "CreateEventA"), reinterpret_cast<void*>(&CreateEventA));
    EXPECT_EQ(Attempt([&] { return GetProcAddress(self, "NoSuchExport"); }), (Outcome{0, ERROR_PROC_NOT_FOUND}));
    // The C library is a dependency of the platform, not part of it.
    EXPECT_EQ(Attempt([&] { return GetProcAddress(self, "malloc"); }), (Outcome{0, ERROR_PROC_NOT_FOUND}));
    EXPECT_TRUE(FreeLibrary(self));
    EXPECT_TRUE(FreeLibrary(self));
    EXPECT_FALSE(FreeLibrary(self));

    char path[4096];
    const DWORD length = GetModuleFileNameA(self, path, sizeof path);
    ASSERT_GT(length, 0u);
    EXPECT_EQ(length, std::strlen(path));
    EXPECT_TRUE(fs::equivalent(path, kPlatformLibrary)) << path;
    char cut[6];
    EXPECT_EQ(Attempt([&] { return GetModuleFileNameA(self, cut, sizeof cut); }),
              (Outcome{sizeof cut, ERROR_INSUFFICIENT_BUFFER}));
    EXPECT_EQ(std::string(cut), std::string(path, sizeof cut - 1));

    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    for (HMODULE bad : {HMODULE{}, reinterpret_cast<HMODULE>(event), reinterpret_cast<HMODULE>(0x7776)}) {
        EXPECT_EQ(Attempt([&] { return GetProcAddress(bad, "CreateEventA"); }), (Outcome{0, ERROR_INVALID_HANDLE}));
        EXPECT_FALSE(FreeLibrary(bad));
        EXPECT_EQ(GetModuleFileNameA(bad, path, sizeof path), 0u);
    }
    CloseHandle(event);
    EXPECT_EQ(Attempt([] { return GetModuleHandleFromAddress(nullptr); }), (Outcome{0, ERROR_MOD_NOT_FOUND}));
}

constexpr DWORD kFromSystem = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;

TEST(KernelMessages, KnownCodesGiveTheWindowsTextAndOthersNothing)
{
    char* text = nullptr;
    const auto allocate = [&](DWORD code) {
        return FormatMessageA(kFromSystem | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, code, 0x400,
                              reinterpret_cast<char*>(&text), 0, nullptr);
    };
    EXPECT_EQ(allocate(0), 39u);
    EXPECT_STREQ(text, "The operation completed successfully.\r\n");
    EXPECT_EQ(LocalFree(text), nullptr);
    EXPECT_EQ(Attempt([&] { return allocate(12345); }), (Outcome{0, ERROR_MR_MID_NOT_FOUND}));
    EXPECT_EQ(text, nullptr);

    char buffer[64] = "stale";
    const auto into = [&](DWORD flags, DWORD code, DWORD size) {
        return Attempt([&] { return FormatMessageA(flags, nullptr, code, 0, buffer, size, nullptr); });
    };
    EXPECT_EQ(into(kFromSystem, 12345, sizeof buffer).result, 0);
    EXPECT_STREQ(buffer, "");
    // "Access is denied.\r\n" and its terminator take 20 bytes exactly.
    EXPECT_EQ(into(kFromSystem, ERROR_ACCESS_DENIED, 20), (Outcome{19, 0}));
    EXPECT_STREQ(buffer, "Access is denied.\r\n");
    EXPECT_EQ(into(kFromSystem, ERROR_ACCESS_DENIED, 19), (Outcome{0, ERROR_INSUFFICIENT_BUFFER}));
    EXPECT_EQ(into(FORMAT_MESSAGE_IGNORE_INSERTS, 2, sizeof buffer), (Outcome{0, ERROR_INVALID_PARAMETER}));
}

TEST(KernelStringTable, RegisteredTextsAreCopiedAndATableWithoutEntriesIsIgnored)
{
    const HMODULE module = GetModuleHandleFromAddress(reinterpret_cast<const void*>(&CreateEventA));
    RegisterStringTable(module, nullptr, 1);
    std::string text = "Seven";
    const StringTableEntry entries[] = {{7, text.c_str()}, {8, nullptr}};
    RegisterStringTable(module, entries, 2);
    text = "changed";
    char buffer[16];
    EXPECT_EQ(LoadStringA(module, 7, buffer, sizeof buffer), 5);
    EXPECT_STREQ(buffer, "Seven");
    EXPECT_EQ(Attempt([&] { return LoadStringA(module, 9, buffer, sizeof buffer); }),
              (Outcome{0, ERROR_RESOURCE_NAME_NOT_FOUND}));
    UnregisterStringTable(module);
    EXPECT_EQ(LoadStringA(module, 7, buffer, sizeof buffer), 0);
}

TEST(KernelMessageBox, WithoutAHandlerTheTextGoesToTheDebugOutput)
{
    DebugLines debug;
    testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBoxA(nullptr, "Sound card failed", nullptr, MB_OK), IDOK);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Sound card failed"), std::string::npos);
    EXPECT_EQ(debug.Lines(), std::vector<std::string>{"Sound card failed"});
}

}  // namespace
