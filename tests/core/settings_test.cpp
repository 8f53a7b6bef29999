#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <RUZada.h>

#include "core/Globals.h"

namespace fs = std::filesystem;

namespace {

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = fs::temp_directory_path() / ("ruzada-settings-" + std::to_string(::getpid()));
        fs::create_directories(m_dir);
        m_file = m_dir / "RUZada.ini";
        setenv("RUZADA_INI", m_file.c_str(), 1);
        g_bUseFFT = g_bSlowFFT = g_bUse48KHz = false;
    }
    void TearDown() override { fs::remove_all(m_dir); }
    void Write(const std::string& text) { std::ofstream(m_file) << text; }

    fs::path m_dir;
    fs::path m_file;
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
            Write(step.file);
        else
            fs::remove(m_file);
        DGRefreshSettings();
        const std::string name = step.file ? step.file : "no file";
        EXPECT_EQ(g_bUseFFT, step.useFFT) << name;
        EXPECT_EQ(g_bSlowFFT, step.slowFFT) << name;
        EXPECT_EQ(g_bUse48KHz, step.use48KHz) << name;
    }
}

}  // namespace
