#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <RUZada.h>

#include "core/globals.h"

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
        g_bUseFFT = false;
        g_bSlowFFT = false;
        g_bUse48KHz = false;
    }
    void TearDown() override { fs::remove_all(m_dir); }
    void Write(const std::string& text) { std::ofstream(m_file) << text; }

    fs::path m_dir;
    fs::path m_file;
};

TEST_F(SettingsTest, MissingFileLeavesEveryFlagAsItWas)
{
    DGRefreshSettings();
    EXPECT_FALSE(g_bUseFFT);
    EXPECT_FALSE(g_bSlowFFT);
    EXPECT_FALSE(g_bUse48KHz);
    g_bUse48KHz = true;
    DGRefreshSettings();
    EXPECT_TRUE(g_bUse48KHz);
}

TEST_F(SettingsTest, OnlyTheValueOneTurnsAFlagOn)
{
    Write("[RUZada]\nUseFFT=1\nSlowFFT=2\nUse48KHz=-1\n");
    g_bSlowFFT = true;
    g_bUse48KHz = true;
    DGRefreshSettings();
    EXPECT_TRUE(g_bUseFFT);
    EXPECT_FALSE(g_bSlowFFT);
    EXPECT_FALSE(g_bUse48KHz);
}

TEST_F(SettingsTest, SectionAndKeysMatchWithoutRegardToCase)
{
    Write("[ruzada]\nusefft = 1\nUSE48KHZ=1\n");
    DGRefreshSettings();
    EXPECT_TRUE(g_bUseFFT);
    EXPECT_TRUE(g_bUse48KHz);
    EXPECT_FALSE(g_bSlowFFT);
}

TEST_F(SettingsTest, KeyRemovedAfterBeingOneKeepsTheFlagOn)
{
    Write("[RUZada]\nUse48KHz=1\n");
    DGRefreshSettings();
    ASSERT_TRUE(g_bUse48KHz);
    Write("[RUZada]\nUseFFT=0\n");
    DGRefreshSettings();
    EXPECT_TRUE(g_bUse48KHz);
    EXPECT_FALSE(g_bUseFFT);
}

TEST_F(SettingsTest, KeysOfAnotherSectionDoNotCount)
{
    Write("[RTTY]\nUseFFT=1\n[RUZada]\nSlowFFT=1\n");
    DGRefreshSettings();
    EXPECT_FALSE(g_bUseFFT);
    EXPECT_TRUE(g_bSlowFFT);
}

}  // namespace
