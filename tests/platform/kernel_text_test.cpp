// Texts: system error messages, and the debug-output sink that message boxes
// fall back to.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
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
    EXPECT_EQ(FormatMessageA(kFromSystem, nullptr, 12345, 0, buffer, sizeof buffer, nullptr), 0u);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(FormatMessageA(kFromSystem, nullptr, ERROR_FILE_NOT_FOUND, 0, buffer, sizeof buffer, nullptr), 44u);
    EXPECT_STREQ(buffer, "The system cannot find the file specified.\r\n");
    // "Access is denied.\r\n" and its terminator take 20 bytes exactly.
    EXPECT_EQ(FormatMessageA(kFromSystem, nullptr, ERROR_ACCESS_DENIED, 0, buffer, 20, nullptr), 19u);
    EXPECT_EQ(
        Attempt([&] { return FormatMessageA(kFromSystem, nullptr, ERROR_ACCESS_DENIED, 0, buffer, 19, nullptr); }),
        (Outcome{0, ERROR_INSUFFICIENT_BUFFER}));
    EXPECT_EQ(
        Attempt([&] { return FormatMessageA(FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, 2, 0, buffer, 64, nullptr); }),
        (Outcome{0, ERROR_INVALID_PARAMETER}));
}

TEST(KernelDebugOutput, TheHandlerGetsEveryLineFromEveryThread)
{
    constexpr int kThreads = 4;
    constexpr int kLines = 200;
    std::vector<std::string> lines;
    {
        DebugLines debug;
        std::vector<std::thread> writers;
        for (int t = 0; t < kThreads; ++t)
            writers.emplace_back([t] {
                for (int i = 0; i < kLines; ++i)
                    OutputDebugStringA(("RUZada: " + std::to_string(t) + "/" + std::to_string(i) + "\r\n").c_str());
            });
        for (std::thread& writer : writers)
            writer.join();
        OutputDebugStringA(nullptr);
        lines = debug.Lines();
    }
    OutputDebugStringA("not collected\r\n");
    const std::set<std::string> unique(lines.begin(), lines.end());
    EXPECT_EQ(lines.size(), size_t{kThreads * kLines});
    EXPECT_EQ(unique.size(), size_t{kThreads * kLines});
    EXPECT_EQ(unique.count("RUZada: 3/199\r\n"), 1u);
}

TEST(KernelMessageBox, WithoutAHandlerTheTextGoesToTheDebugOutput)
{
    DebugLines debug;
    testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBoxA(nullptr, "Sound card failed", nullptr, MB_OK), IDOK);
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_EQ(debug.Lines(), std::vector<std::string>{"Sound card failed"});
    EXPECT_NE(printed.find("Sound card failed"), std::string::npos);
}

}  // namespace
