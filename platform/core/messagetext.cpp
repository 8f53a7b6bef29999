// System message texts: the Windows wording for the codes the platform, the
// module and the wave driver can produce.
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "core/loader.h"

namespace rz::kernel {
namespace {

struct MessageText {
    DWORD code;
    std::string_view text;
};

constexpr MessageText kMessageTexts[] = {
    {0, "The operation completed successfully.\r\n"},
    {1, "Incorrect function.\r\n"},
    {2, "The system cannot find the file specified.\r\n"},
    {3, "The system cannot find the path specified.\r\n"},
    {4, "The system cannot open the file.\r\n"},
    {5, "Access is denied.\r\n"},
    {6, "The handle is invalid.\r\n"},
    {7, "The storage control blocks were destroyed.\r\n"},
    {8, "Not enough memory resources are available to process this command.\r\n"},
    {11, "An attempt was made to load a program with an incorrect format.\r\n"},
    {13, "The data is invalid.\r\n"},
    {14, "Not enough storage is available to complete this operation.\r\n"},
    {18, "There are no more files.\r\n"},
    {21, "The device is not ready.\r\n"},
    {31, "A device attached to the system is not functioning.\r\n"},
    {32, "The process cannot access the file because it is being used by another process.\r\n"},
    {50, "The request is not supported.\r\n"},
    {85, "The local device name is already in use.\r\n"},
    {87, "The parameter is incorrect.\r\n"},
    {100, "Cannot create another system semaphore.\r\n"},
    {107, "The program stopped because an alternate diskette was not inserted.\r\n"},
    {111, "The file name is too long.\r\n"},
    {112, "There is not enough space on the disk.\r\n"},
    {114, "The target internal file identifier is incorrect.\r\n"},
    {122, "The data area passed to a system call is too small.\r\n"},
    {126, "The specified module could not be found.\r\n"},
    {127, "The specified procedure could not be found.\r\n"},
    {170, "The requested resource is in use.\r\n"},
    {193, "%1 is not a valid Win32 application.\r\n"},
    {206, "The filename or extension is too long.\r\n"},
    {317, "The system cannot find message text for message number 0x%1 in the message file for %2.\r\n"},
    {995, "The I/O operation has been aborted because of either a thread exit or an application request.\r\n"},
    {996, "Overlapped I/O event is not in a signaled state.\r\n"},
    {997, "Overlapped I/O operation is in progress.\r\n"},
    {1400, "Invalid window handle.\r\n"},
    {1814, "The specified resource name cannot be found in the image file.\r\n"},
    {1816, "Not enough quota is available to process this command.\r\n"},
};

std::string_view FixedText(DWORD code)
{
    for (const MessageText& entry : kMessageTexts)
        if (entry.code == code)
            return entry.text;
    return {};
}

// The fixed text, with the loader's reason before the line end when this
// thread's last load failed with `code`.
std::string MessageFor(DWORD code)
{
    const std::string_view fixed = FixedText(code);
    const std::string_view reason = LoadFailureReason(code);
    if (fixed.empty() || reason.empty())
        return std::string(fixed);
    const std::string_view sentence = fixed.substr(0, fixed.size() - 2);
    return std::string(sentence) + " (" + std::string(reason) + ")\r\n";
}

DWORD DeliverNothing(DWORD flags, char* buffer, DWORD size, DWORD error)
{
    if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER)
        *reinterpret_cast<char**>(buffer) = nullptr;
    else if (size > 0)
        buffer[0] = '\0';
    SetLastError(error);
    return 0;
}

DWORD Deliver(const std::string& text, DWORD flags, char* buffer, DWORD size)
{
    if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
        const size_t bytes = text.size() + 1 > size ? text.size() + 1 : size;
        char* block = static_cast<char*>(std::malloc(bytes));
        if (!block)
            return DeliverNothing(flags, buffer, size, ERROR_NOT_ENOUGH_MEMORY);
        *reinterpret_cast<char**>(buffer) = block;
        std::memcpy(block, text.c_str(), text.size() + 1);
        return static_cast<DWORD>(text.size());
    }
    if (text.size() + 1 > size)
        return DeliverNothing(flags, buffer, size, ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return static_cast<DWORD>(text.size());
}

}  // namespace
}  // namespace rz::kernel

DWORD FormatMessageA(DWORD flags, const void*, DWORD code, DWORD, char* buffer, DWORD size, va_list*)
{
    using namespace rz::kernel;
    if (!(flags & FORMAT_MESSAGE_FROM_SYSTEM) || !buffer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::string text;
    try {
        text = MessageFor(code);
    } catch (const std::bad_alloc&) {
        return DeliverNothing(flags, buffer, size, ERROR_NOT_ENOUGH_MEMORY);
    }
    if (text.empty())
        return DeliverNothing(flags, buffer, size, ERROR_MR_MID_NOT_FOUND);
    return Deliver(text, flags, buffer, size);
}

HLOCAL LocalFree(HLOCAL block)
{
    std::free(block);
    return nullptr;
}
