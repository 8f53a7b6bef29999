// Critical sections: a recursive mutex behind the caller's CRITICAL_SECTION.
#include <mutex>
#include <new>

#include "ruzada/kernel.h"

namespace {

std::recursive_mutex* MutexOf(CRITICAL_SECTION* section)
{
    return section ? static_cast<std::recursive_mutex*>(section->impl) : nullptr;
}

}  // namespace

void InitializeCriticalSection(CRITICAL_SECTION* section)
{
    if (section)
        section->impl = new (std::nothrow) std::recursive_mutex;
}

void DeleteCriticalSection(CRITICAL_SECTION* section)
{
    if (!section)
        return;
    delete MutexOf(section);
    section->impl = nullptr;
}

void EnterCriticalSection(CRITICAL_SECTION* section)
{
    if (std::recursive_mutex* mutex = MutexOf(section))
        mutex->lock();
}

BOOL TryEnterCriticalSection(CRITICAL_SECTION* section)
{
    std::recursive_mutex* mutex = MutexOf(section);
    return mutex && mutex->try_lock() ? TRUE : FALSE;
}

void LeaveCriticalSection(CRITICAL_SECTION* section)
{
    if (std::recursive_mutex* mutex = MutexOf(section))
        mutex->unlock();
}
