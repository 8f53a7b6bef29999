// Texts: system error messages, string tables, the debug-output and message-box
// sinks.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <ruzada/kernel.h>

namespace {

constexpr DWORD kAllocate = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;

// ---- system messages ------------------------------------------------------------

TEST(KernelMessages, KnownCodesGiveTheWindowsText)
{
    char* text = nullptr;
    DWORD length = FormatMessageA(kAllocate, nullptr, 0, 0x400, reinterpret_cast<char*>(&text), 0, nullptr);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "The operation completed successfully.\r\n");
    EXPECT_EQ(length, std::string(text).size());
    EXPECT_EQ(LocalFree(text), nullptr);

    char buffer[128];
    length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, ERROR_FILE_NOT_FOUND,
                            0, buffer, sizeof buffer, nullptr);
    EXPECT_STREQ(buffer, "The system cannot find the file specified.\r\n");
    EXPECT_EQ(length, std::string(buffer).size());
}

TEST(KernelMessages, AnUnknownCodeGivesNothingToRelease)
{
    char* text = reinterpret_cast<char*>(&text);
    SetLastError(0);
    EXPECT_EQ(FormatMessageA(kAllocate, nullptr, 12345, 0x400, reinterpret_cast<char*>(&text), 0, nullptr), 0u);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MR_MID_NOT_FOUND);

    char buffer[16] = "stale";
    EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 12345, 0, buffer, sizeof buffer, nullptr), 0u);
    EXPECT_STREQ(buffer, "");
}

TEST(KernelMessages, ATextMustFitACallersBuffer)
{
    char buffer[10];
    SetLastError(0);
    EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_ACCESS_DENIED, 0, buffer, sizeof buffer, nullptr),
              0u);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    // "Access is denied.\r\n" and its terminator take 20 bytes exactly.
    char exact[20];
    EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_ACCESS_DENIED, 0, exact, sizeof exact, nullptr),
              19u);
}

TEST(KernelMessages, OnlySystemTextsAreOffered)
{
    char buffer[128];
    SetLastError(0);
    EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, 2, 0, buffer, sizeof buffer, nullptr), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 2, 0, nullptr, 0, nullptr), 0u);
}

// ---- string tables --------------------------------------------------------------

const StringTableEntry kEntries[] = {{149, "Port Already Active"}, {3000, "PSK"}, {3100, ""}};

class KernelStrings : public ::testing::Test {
protected:
    void SetUp() override { RegisterStringTable(module, kEntries, std::size(kEntries)); }
    void TearDown() override { UnregisterStringTable(module); }

    HMODULE module = GetModuleHandleFromAddress(reinterpret_cast<const void*>(&kEntries));
};

TEST_F(KernelStrings, CopiesAsWindowsDoes)
{
    char buffer[32];
    EXPECT_EQ(LoadStringA(module, 149, buffer, sizeof buffer), 19);
    EXPECT_STREQ(buffer, "Port Already Active");
    EXPECT_EQ(LoadStringA(module, 3000, buffer, 4), 3);
    EXPECT_STREQ(buffer, "PSK");
    EXPECT_EQ(LoadStringA(module, 3000, buffer, 3), 2);
    EXPECT_STREQ(buffer, "PS");
    EXPECT_EQ(LoadStringA(module, 3000, buffer, 1), 0);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(LoadStringA(module, 3100, buffer, sizeof buffer), 0);
}

TEST_F(KernelStrings, MissingTextsAndBadArgumentsGiveNothing)
{
    char buffer[32] = "stale";
    SetLastError(0);
    EXPECT_EQ(LoadStringA(module, 150, buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
    EXPECT_EQ(LoadStringA(nullptr, 149, buffer, sizeof buffer), 0);
    SetLastError(0);
    EXPECT_EQ(LoadStringA(module, 149, nullptr, 10), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(LoadStringA(module, 149, buffer, 0), 0);
    EXPECT_EQ(LoadStringA(module, 149, buffer, -1), 0);

    UnregisterStringTable(module);
    strcpy(buffer, "stale");
    EXPECT_EQ(LoadStringA(module, 149, buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "");
}

TEST_F(KernelStrings, TextsAreCopiedAtRegistration)
{
    char text[] = "Changing";
    const StringTableEntry entries[] = {{1, text}};
    RegisterStringTable(module, entries, 1);
    text[0] = 'X';
    char buffer[32];
    EXPECT_EQ(LoadStringA(module, 1, buffer, sizeof buffer), 8);
    EXPECT_STREQ(buffer, "Changing");
    // The new table replaced the old one.
    EXPECT_EQ(LoadStringA(module, 149, buffer, sizeof buffer), 0);
}

// ---- debug output and message boxes ---------------------------------------------

struct Collector {
    std::mutex lock;
    std::vector<std::string> lines;
    std::atomic<bool> retired{false};
    std::atomic<int> callsAfterRetiring{0};

    size_t Count()
    {
        std::lock_guard hold(lock);
        return lines.size();
    }

    static void Collect(const char* text, void* user)
    {
        auto* self = static_cast<Collector*>(user);
        if (self->retired)
            ++self->callsAfterRetiring;
        std::lock_guard hold(self->lock);
        self->lines.emplace_back(text);
    }
};

TEST(KernelDebugOutput, TheHandlerGetsEveryLineFromEveryThread)
{
    Collector collector;
    SetDebugOutputHandler(&Collector::Collect, &collector);
    constexpr int kThreads = 4;
    constexpr int kLines = 200;
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t)
        writers.emplace_back([t] {
            for (int i = 0; i < kLines; ++i)
                OutputDebugStringA(("RUZada: " + std::to_string(t) + "/" + std::to_string(i) + "\r\n").c_str());
        });
    for (std::thread& writer : writers)
        writer.join();
    OutputDebugStringA(nullptr);
    SetDebugOutputHandler(nullptr, nullptr);
    OutputDebugStringA("not collected\r\n");

    std::set<std::string> unique(collector.lines.begin(), collector.lines.end());
    EXPECT_EQ(collector.lines.size(), size_t{kThreads * kLines});
    EXPECT_EQ(unique.size(), size_t{kThreads * kLines});
    EXPECT_EQ(unique.count("RUZada: 3/199\r\n"), 1u);
}

TEST(KernelDebugOutput, AReplacedHandlerIsNoLongerRunning)
{
    Collector first;
    Collector second;
    SetDebugOutputHandler(&Collector::Collect, &first);
    std::atomic<bool> stop{false};
    std::vector<std::thread> writers;
    for (int t = 0; t < 3; ++t)
        writers.emplace_back([&] {
            while (!stop)
                OutputDebugStringA("line\n");
        });
    while (first.Count() < 100)
        std::this_thread::yield();
    SetDebugOutputHandler(&Collector::Collect, &second);
    first.retired = true;
    while (second.Count() < 100)
        std::this_thread::yield();
    stop = true;
    for (std::thread& writer : writers)
        writer.join();
    SetDebugOutputHandler(nullptr, nullptr);
    EXPECT_EQ(first.callsAfterRetiring, 0);
}

struct BoxProbe {
    std::string text;
    std::string caption;
    UINT type = 0;
};

int AnswerBox(HWND, const char* text, const char* caption, UINT type, void* user)
{
    auto* probe = static_cast<BoxProbe*>(user);
    probe->text = text;
    probe->caption = caption;
    probe->type = type;
    return 6;
}

TEST(KernelMessageBox, TheHandlerAnswers)
{
    BoxProbe probe;
    SetMessageBoxHandler(&AnswerBox, &probe);
    EXPECT_EQ(MessageBoxA(nullptr, "Sound card failed", "RUZada", MB_OK | MB_ICONEXCLAMATION), 6);
    SetMessageBoxHandler(nullptr, nullptr);
    EXPECT_EQ(probe.text, "Sound card failed");
    EXPECT_EQ(probe.caption, "RUZada");
    EXPECT_EQ(probe.type, MB_OK | MB_ICONEXCLAMATION);
}

TEST(KernelMessageBox, WithoutAHandlerTheTextGoesToTheDebugOutput)
{
    Collector collector;
    SetDebugOutputHandler(&Collector::Collect, &collector);
    testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBoxA(nullptr, "Sound card failed", nullptr, MB_OK), IDOK);
    const std::string printed = testing::internal::GetCapturedStderr();
    SetDebugOutputHandler(nullptr, nullptr);
    EXPECT_EQ(collector.lines, std::vector<std::string>{"Sound card failed"});
    EXPECT_NE(printed.find("Sound card failed"), std::string::npos);
}

}  // namespace
