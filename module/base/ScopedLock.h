// The module's lock holder. It can be released early with Unlock and taken again
// by hand with Lock, which the worker threads do around snap-in calls.
#pragma once

#include <ruzada/kernel.h>

class CScopedLock {
public:
    explicit CScopedLock(CRITICAL_SECTION* section) : m_pSection(section), m_bLocked(0)
    {
        if (m_pSection)
            EnterCriticalSection(m_pSection);
        m_bLocked = 1;
    }
    ~CScopedLock() { Unlock(); }
    CScopedLock(const CScopedLock&) = delete;
    CScopedLock& operator=(const CScopedLock&) = delete;

    void Lock()
    {
        if (m_pSection)
            EnterCriticalSection(m_pSection);
        m_bLocked = 1;
    }
    void Unlock()
    {
        if (m_pSection && m_bLocked)
            LeaveCriticalSection(m_pSection);
        m_bLocked = 0;
    }
    BOOL IsLocked() const { return m_bLocked; }

private:
    CRITICAL_SECTION* m_pSection;
    BOOL m_bLocked;
};
