#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "core/ScopedLock.h"

namespace {

bool HeldElsewhere(CRITICAL_SECTION* section)
{
    std::atomic<bool> acquired{false};
    std::thread probe([&] {
        if (TryEnterCriticalSection(section)) {
            acquired = true;
            LeaveCriticalSection(section);
        }
    });
    probe.join();
    return !acquired;
}

TEST(ScopedLock, HoldsUntilUnlockAndCanBeTakenAgain)
{
    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    {
        CScopedLock lock(&section);
        EXPECT_TRUE(lock.IsLocked());
        EXPECT_TRUE(HeldElsewhere(&section));
        lock.Unlock();
        EXPECT_FALSE(lock.IsLocked());
        EXPECT_FALSE(HeldElsewhere(&section));
        lock.Unlock();  // a second unlock must not leave the section twice
        lock.Lock();
        EXPECT_TRUE(HeldElsewhere(&section));
    }
    EXPECT_FALSE(HeldElsewhere(&section));
    DeleteCriticalSection(&section);
}

TEST(ScopedLock, NullSectionIsHarmless)
{
    CScopedLock lock(nullptr);
    EXPECT_TRUE(lock.IsLocked());
    lock.Unlock();
    EXPECT_FALSE(lock.IsLocked());
}

}  // namespace
