#include <gtest/gtest.h>

#include <filesystem>

#include <RUZada.h>

#include "SuiteHelpers.h"
#include "core/Globals.h"

namespace {

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("RUZADA_INI", m_dir.Path("RUZada.ini").c_str(), 1);
        g_bUseFFT = g_bSlowFFT = g_bUse48KHz = false;
    }
    rz::test::support::TempDir m_dir;
};

// Each refresh reads the file again: only the value 1 turns a flag on, a missing
// file or key leaves the flag as it was, and names match without regard to case.
TEST_F(SettingsTest, OnlyTheValueOneTurnsAFlagOnAndMissingKeysLeaveItAsItWas)
{
    struct Case {
        const char* file;  // nullptr: no file
        bool useFFT, slowFFT, use48KHz;
    };
    const Case steps[] = {
        {"[RUZada]\nUseFFT=1\nSlowFFT=2\nUse48KHz=-1\n", true, false, false},
        {"[ruzada]\nusefft = 0\nUSE48KHZ=1\n", false, false, true},
        {"[RUZada]\nSlowFFT=1\n", false, true, true},
        {"[RTTY]\nUseFFT=1\n[RUZada]\nSlowFFT=0\n", false, false, true},
        {nullptr, false, false, true},
    };
    for (const Case& step : steps) {
        if (step.file)
            m_dir.Write("RUZada.ini", step.file);
        else
            std::filesystem::remove(m_dir.Path("RUZada.ini"));
        DGRefreshSettings();
        const std::string name = step.file ? step.file : "no file";
        EXPECT_EQ(g_bUseFFT, step.useFFT) << name;
        EXPECT_EQ(g_bSlowFFT, step.slowFFT) << name;
        EXPECT_EQ(g_bUse48KHz, step.use48KHz) << name;
    }
}

}  // namespace
