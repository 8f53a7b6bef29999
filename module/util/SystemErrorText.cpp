#include "util/SystemErrorText.h"

#include <cstdint>
#include <memory>

#include <ruzada/kernel.h>

namespace {

constexpr DWORD kSystemTextFlags =
    FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
constexpr DWORD kNeutralLanguage = 0x400;

struct SystemBlockRelease {
    void operator()(char* block) const { LocalFree(block); }
};

}  // namespace

CNString SystemErrorText(unsigned long code)
{
    CNString text;
    // Codes are 32-bit: a wider value names no system message.
    if (code > UINT32_MAX)
        return text;
    char* message = nullptr;
    if (FormatMessageA(kSystemTextFlags, nullptr, static_cast<DWORD>(code), kNeutralLanguage,
                       reinterpret_cast<char*>(&message), 0, nullptr) == 0)
        return text;
    const std::unique_ptr<char, SystemBlockRelease> owned(message);
    text = message;
    return text;
}
