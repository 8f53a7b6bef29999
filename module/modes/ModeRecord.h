// One discovered snap-in: where it lies and what its setup record says. Filled
// once by discovery, then never changed.
#pragma once

#include <DGSnapin.h>
#include <ruzada/kernel.h>

#include "util/CObject.h"

class CModeRecord : public CObject {
public:
    // Zeroes the setup area and sets cbSize, as GetDGSetup expects it.
    CModeRecord();
    ~CModeRecord() override;

    char m_szPath[MAX_PATH];
    DGSETUP m_Setup;
};
