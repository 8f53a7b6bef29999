// Copying a text out to a caller's buffer, as the Windows path getters do.
#pragma once

#include <cstring>
#include <string_view>

#include "ruzada/kernel.h"

namespace rz::kernel {

// At most size-1 characters and a terminator; answers the length copied. A text
// that does not fit is cut, and the answer is then `size`, with
// ERROR_INSUFFICIENT_BUFFER.
inline DWORD CopyOutText(std::string_view text, char* buffer, DWORD size)
{
    if (!buffer || size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (text.size() < size) {
        std::memcpy(buffer, text.data(), text.size());
        buffer[text.size()] = '\0';
        return static_cast<DWORD>(text.size());
    }
    std::memcpy(buffer, text.data(), size - 1);
    buffer[size - 1] = '\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
}

}  // namespace rz::kernel
