#include "core/Worker.h"

#include <string>

#include "util/SystemErrorText.h"

HANDLE StartWorker(LPTHREAD_START_ROUTINE routine, const char* tag, size_t stackBytes)
{
    HANDLE thread = CreateThread(nullptr, stackBytes, routine, nullptr, 0, nullptr);
    if (!thread) {
        std::string text = std::string("RUZada:CreateThread(") + tag + ")::";
        text += static_cast<const char*>(SystemErrorText(GetLastError()));
        OutputDebugStringA(text.c_str());
    }
    return thread;
}
