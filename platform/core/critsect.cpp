// Critical sections: a recursive mutex behind the caller's CRITICAL_SECTION.
#include <mutex>
#include <new>
#include <vector>

#include "ruzada/kernel.h"

namespace {

std::recursive_mutex* MutexOf(CRITICAL_SECTION* section)
{
    return section ? static_cast<std::recursive_mutex*>(section->impl) : nullptr;
}

// A section that another thread still holds when it is deleted: one given up
// inside a call out that may never come back (ruzada/outcall.h). It is never
// left, so it is kept here rather than freed under its holder and its waiters.
void KeepForItsHolder(std::recursive_mutex* mutex)
{
    static std::mutex lock;
    static std::vector<std::recursive_mutex*>& kept = *new std::vector<std::recursive_mutex*>;
    std::lock_guard hold(lock);
    try {
        kept.push_back(mutex);
    } catch (const std::bad_alloc&) {
        // Without room to note it the section is still never freed.
    }
}

}  // namespace

void InitializeCriticalSection(CRITICAL_SECTION* section)
{
    if (section)
        section->impl = new (std::nothrow) std::recursive_mutex;
}

void DeleteCriticalSection(CRITICAL_SECTION* section)
{
    std::recursive_mutex* mutex = MutexOf(section);
    if (!mutex)
        return;
    section->impl = nullptr;
    if (!mutex->try_lock()) {
        KeepForItsHolder(mutex);
        return;
    }
    mutex->unlock();
    delete mutex;
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
