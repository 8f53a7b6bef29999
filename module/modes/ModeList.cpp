#include "modes/ModeList.h"

#include <utility>

[[gnu::init_priority(1002)]] CModeList g_ModeList;

void CModeList::Append(CModeRecord* record)
{
    std::lock_guard hold(m_lock);
    m_records.push_back(record);
}

const CModeRecord* CModeList::Find(uint64_t mask) const
{
    std::lock_guard hold(m_lock);
    for (const CModeRecord* record : m_records)
        if (record->m_Setup.qwMode == mask)
            return record;
    return nullptr;
}

std::vector<const CModeRecord*> CModeList::FindAll(uint64_t mask) const
{
    std::lock_guard hold(m_lock);
    std::vector<const CModeRecord*> found;
    for (const CModeRecord* record : m_records)
        if (record->m_Setup.qwMode == mask)
            found.push_back(record);
    return found;
}

std::vector<CModeRecord*> CModeList::TakeAll()
{
    std::lock_guard hold(m_lock);
    return std::exchange(m_records, {});
}

size_t CModeList::Count() const
{
    std::lock_guard hold(m_lock);
    return m_records.size();
}
