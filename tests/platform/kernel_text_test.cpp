// Texts: system error messages, string tables, and the debug-output sink that
// message boxes fall back to.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PlatformTesting.h"

namespace {

using namespace rz::test::platform;

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
