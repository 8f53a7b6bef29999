// g_ModeList: every discovered snap-in, in discovery order. Records are only ever
// appended (complete) and are destroyed only at unload, so a record found here
// stays valid until then; the list's own lock lets host threads walk it while
// another one appends.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "modes/ModeRecord.h"

class CModeList {
public:
    void Append(CModeRecord* record);
    // The first record whose mask equals `mask` exactly, or null.
    const CModeRecord* Find(uint64_t mask) const;
    // Every record whose mask equals `mask`, front to back.
    std::vector<const CModeRecord*> FindAll(uint64_t mask) const;
    // Empties the list and hands its records over, front to back.
    std::vector<CModeRecord*> TakeAll();
    size_t Count() const;

private:
    mutable std::mutex m_lock;
    std::vector<CModeRecord*> m_records;
};

extern CModeList g_ModeList;
