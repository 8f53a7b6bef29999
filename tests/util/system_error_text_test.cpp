// System error texts: the platform's message for a code, or nothing.
#include <gtest/gtest.h>

#include <string>

#include <ruzada/kernel.h>

#include "util/SystemErrorText.h"

namespace {

// The platform's text for `code`, asked for straight into a buffer.
std::string PlatformText(DWORD code)
{
    char buffer[512];
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                        buffer, sizeof buffer, nullptr);
    return std::string(buffer, length);
}

std::string TextOf(unsigned long code) { return static_cast<const char*>(SystemErrorText(code)); }

TEST(SystemErrorText, KnownCodesGiveThePlatformsTextOthersNothing)
{
    for (const unsigned long code : {0ul, static_cast<unsigned long>(ERROR_FILE_NOT_FOUND)}) {
        const std::string text = TextOf(code);
        ASSERT_GE(text.size(), 2u) << code;
        EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
        EXPECT_EQ(text, PlatformText(static_cast<DWORD>(code)));
    }
    EXPECT_NE(TextOf(0), TextOf(ERROR_FILE_NOT_FOUND));
    ASSERT_EQ(PlatformText(0x2BADC0DE), "");
    EXPECT_EQ(TextOf(0x2BADC0DE), "");
    EXPECT_EQ(TextOf(0x100000000ul | ERROR_FILE_NOT_FOUND), "");
}

}  // namespace
