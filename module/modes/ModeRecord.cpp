#include "modes/ModeRecord.h"

#include <cstring>

CModeRecord::CModeRecord()
{
    std::memset(m_szPath, 0, sizeof m_szPath);
    std::memset(&m_Setup, 0, sizeof m_Setup);
    m_Setup.cbSize = DGSETUP_SIZE;
}

CModeRecord::~CModeRecord() = default;
