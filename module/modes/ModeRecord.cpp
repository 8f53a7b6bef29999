#include "modes/ModeRecord.h"

#include <cstddef>
#include <cstring>

// The setup record is shared byte for byte with every snap-in.
static_assert(sizeof(DGSETUP) == DGSETUP_SIZE);
static_assert(offsetof(DGSETUP, cbSize) == 0);
static_assert(offsetof(DGSETUP, szName) == 4);
static_assert(offsetof(DGSETUP, dwReserved1) == 516);
static_assert(offsetof(DGSETUP, qwMode) == 520);
static_assert(offsetof(DGSETUP, bNoSoundCard) == 528);
static_assert(offsetof(DGSETUP, bNoSoundOutput) == 532);
static_assert(offsetof(DGSETUP, bNoSoundInput) == 536);
static_assert(offsetof(DGSETUP, dwReserved2) == 540);

CModeRecord::CModeRecord()
{
    std::memset(m_szPath, 0, sizeof m_szPath);
    std::memset(&m_Setup, 0, sizeof m_Setup);
    m_Setup.cbSize = DGSETUP_SIZE;
}

CModeRecord::~CModeRecord() = default;
