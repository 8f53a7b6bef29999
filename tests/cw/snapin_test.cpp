// DGcw.so as the module sees it: setup record, encoder capacity and queue,
// bad arguments, the settings file and the control keys.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <stdlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <DGSnapin.h>

#include "CwChannel.h"
#include "SuiteHelpers.h"

namespace {

using namespace rz::cw::testing;

constexpr int16_t kSentinel = 0x5A5A;
// Senders far from the expected timing are learned within the first words.
constexpr char kWarmUp[] = "VVV VVV ";

class CwSnapin : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (const char* settings = getenv("RUZADA_INI"))
            m_settings = settings;
        m_library = dlopen(DGCW_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(m_library, nullptr) << dlerror();
        getSetup = Resolve<PFN_GetDGSetup>("GetDGSetup");
        init = Resolve<PFN_InitRUZada>("InitRUZada");
        twiddle = Resolve<PFN_GetDGTwiddle>("GetDGTwiddle");
        hasData = Resolve<PFN_HasDGData>("HasDGData");
        encodeA = Resolve<PFN_EncodeDGDataA>("EncodeDGDataA");
        decodeA = Resolve<PFN_DecodeDGDataA>("DecodeDGDataA");
        command = Resolve<PFN_DoDGCommand>("DoDGCommand");
        write = Resolve<PFN_InvokeDGFunc>("InvokeDGFunc20");
        ASSERT_TRUE(getSetup && init && twiddle && hasData && encodeA && decodeA && command && write);
        init(8000.0);
    }

    void TearDown() override
    {
        if (m_library != nullptr)
            dlclose(m_library);
        rz::test::support::SetVariable("RUZADA_INI", m_settings ? m_settings->c_str() : nullptr);
    }

    template <typename Function>
    Function Resolve(const char* name)
    {
        return reinterpret_cast<Function>(dlsym(m_library, name));
    }

    int32_t Read(int key) { return static_cast<int32_t>(command(DG_CONTROL_READ | static_cast<uint32_t>(key))); }

    std::vector<int16_t> Send(const std::string& text)
    {
        std::vector<int16_t> audio;
        std::vector<int16_t> block(kEncodeCapacity);
        for (size_t at = 0; at < text.size(); at += kEncodeBatch) {
            const std::string batch = text.substr(at, kEncodeBatch);
            const int n = encodeA(block.data(), kEncodeCapacity, batch.data(), static_cast<int>(batch.size()));
            audio.insert(audio.end(), block.begin(), block.begin() + n);
        }
        while (hasData() != 0) {
            const int n = twiddle(block.data(), 8000);
            audio.insert(audio.end(), block.begin(), block.begin() + n);
        }
        return audio;
    }

    std::string Receive(std::vector<int16_t> audio)
    {
        audio.resize(audio.size() + 3 * 8000);
        std::string text;
        for (size_t at = 0; at + kDecodeBlock <= audio.size(); at += kDecodeBlock) {
            char chars[DG_DECODE_CAPACITY];
            const int n = decodeA(audio.data() + at, kDecodeBlock, chars, DG_DECODE_CAPACITY);
            EXPECT_LE(n, DG_DECODE_CAPACITY);
            text.append(chars, static_cast<size_t>(std::max(n, 0)));
        }
        return text;
    }

    void UseSettings(const std::string& contents)
    {
        const std::string path = (std::filesystem::path(::testing::TempDir()) / "cw-settings.ini").string();
        std::ofstream(path) << contents;
        setenv("RUZADA_INI", path.c_str(), 1);
        init(8000.0);
    }

    PFN_GetDGSetup getSetup = nullptr;
    PFN_InitRUZada init = nullptr;
    PFN_GetDGTwiddle twiddle = nullptr;
    PFN_HasDGData hasData = nullptr;
    PFN_EncodeDGDataA encodeA = nullptr;
    PFN_DecodeDGDataA decodeA = nullptr;
    PFN_DoDGCommand command = nullptr;
    PFN_InvokeDGFunc write = nullptr;

private:
    void* m_library = nullptr;
    std::optional<std::string> m_settings;
};

TEST_F(CwSnapin, EncoderKeepsWhatDoesNotFitAndDropsWhatMorseCannotCarry)
{
    std::vector<int16_t> block(kEncodeCapacity + 16, kSentinel);
    EXPECT_EQ(encodeA(block.data(), 100, "E", 1), 100);
    EXPECT_TRUE(std::all_of(block.begin() + 100, block.end(), [](int16_t s) { return s == kSentinel; }));
    EXPECT_NE(hasData(), 0);
    // E at 20 WPM: a dot and the gap after the character, 4 dots of 480 samples.
    EXPECT_EQ(100 + encodeA(block.data(), kEncodeCapacity, nullptr, 0), 4 * 480);
    EXPECT_EQ(hasData(), 0);
    EXPECT_EQ(encodeA(block.data(), kEncodeCapacity, "#%*~\x01", 5), 0);
    EXPECT_EQ(encodeA(nullptr, 0, "E", 1), 0);
    EXPECT_EQ(encodeA(block.data(), -5, nullptr, 0), 0);
    // Idle is silence.
    std::fill(block.begin(), block.end(), kSentinel);
    EXPECT_EQ(encodeA(block.data(), kEncodeCapacity, nullptr, 0), 4 * 480);
    EXPECT_EQ(twiddle(block.data(), 1000), 1000);
    EXPECT_TRUE(std::all_of(block.begin(), block.begin() + 1000, [](int16_t s) { return s == 0; }));
    EXPECT_EQ(Receive(Send("cq de dl2xyz#<AR")), "CQ DE DL2XYZ");
}

TEST_F(CwSnapin, DecoderTakesOddCallsAndHoldsWhatDoesNotFit)
{
    std::vector<int16_t> audio = Send("PARIS PARIS");
    audio.resize(audio.size() + 3 * 8000);
    char chars[DG_DECODE_CAPACITY] = {};
    EXPECT_EQ(decodeA(nullptr, kDecodeBlock, chars, DG_DECODE_CAPACITY), 0);
    EXPECT_EQ(decodeA(audio.data(), -20, chars, DG_DECODE_CAPACITY), 0);
    EXPECT_EQ(decodeA(audio.data(), static_cast<int>(audio.size()), chars, 0), 0);
    EXPECT_EQ(decodeA(nullptr, 0, chars, 4), 4);
    EXPECT_EQ(std::string(chars, 4), "PARI");
    EXPECT_EQ(decodeA(nullptr, 0, chars, DG_DECODE_CAPACITY), 7);
    EXPECT_EQ(std::string(chars, 7), "S PARIS");
}

TEST_F(CwSnapin, SettingsAndWhatItHearsAreReadThroughTheKeys)
{
    UseSettings("[CW]\nCarrier=1200\nWPM=30\nFarnsworth=15\nAFC=0\nSquelch=50\n");
    EXPECT_EQ(Read(DG_KEY_CARRIER), 12000);
    EXPECT_EQ(Read(DG_KEY_WPM), 30);
    EXPECT_EQ(Read(DG_KEY_FARNSWORTH), 15);
    EXPECT_EQ(Read(DG_KEY_AFC), 0);
    EXPECT_EQ(Read(DG_KEY_SQUELCH), 50);
    // The receiver reports what it hears: the speed of the characters, where it listens, the quality.
    const std::string text = "CQ DE DL2XYZ";
    EXPECT_THAT(Receive(Send(kWarmUp + text)), ::testing::EndsWith(" " + text));
    EXPECT_NEAR(Read(DG_KEY_RX_WPM), 30, 2);
    EXPECT_EQ(Read(DG_KEY_TRACKED), 12000);
    EXPECT_GT(Read(DG_KEY_QUALITY), 50);
    init(8000.0);
    write(nullptr, DG_KEY_AFC, 1);
    EXPECT_THAT(Receive(AddNoise(KeyText(kWarmUp + text, 30, 0, 1260.0), 0.0, 4, 8000, 0, kKeyDownPower)),
                ::testing::EndsWith(" " + text));
    EXPECT_NEAR(Read(DG_KEY_TRACKED), 12600, 20);

    UseSettings("[CW]\nCarrier=100\nWPM=99\nFarnsworth=40\n");
    EXPECT_EQ(Read(DG_KEY_CARRIER), 7000);
    EXPECT_EQ(Read(DG_KEY_WPM), 20);
    EXPECT_EQ(Read(DG_KEY_FARNSWORTH), 0);
}

TEST_F(CwSnapin, NamesItselfAndTakesTheControlKeys)
{
    DGSETUP setup;
    std::memset(&setup, 0, sizeof setup);
    setup.cbSize = DGSETUP_SIZE;
    getSetup(&setup);
    EXPECT_EQ(std::u16string(setup.szName), u"CW");
    EXPECT_EQ(setup.qwMode, 16u);
    EXPECT_EQ(command(DG_CONTROL_READ | DG_KEY_CONTROL), static_cast<uint32_t>(DG_CONTROL_VERSION));
    const struct {
        int key;
        uint32_t written;
        int taken;
        int32_t readBack;
    } cases[] = {
        {DG_KEY_CARRIER, 8505, 1, 8505}, {DG_KEY_CARRIER, 50000, 1, 35000},
        {DG_KEY_WPM, 35, 1, 35},         {DG_KEY_WPM, 200, 1, 50},
        {DG_KEY_FARNSWORTH, 12, 1, 12},  {DG_KEY_FARNSWORTH, 90, 1, 50},
        {DG_KEY_AFC, 0, 1, 0},           {DG_KEY_AFC, 7, 0, 0},
        {DG_KEY_SQUELCH, 150, 1, 100},   {DG_KEY_RX_WPM, 30, 0, 20},
        {DG_KEY_QUALITY, 50, 0, 0},      {DG_KEY_TRACKED, 1, 0, 7000},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(write(nullptr, static_cast<uint32_t>(c.key), c.written), c.taken) << "key " << c.key;
        EXPECT_EQ(Read(c.key), c.readBack) << "key " << c.key;
    }
    EXPECT_EQ(Read(DG_KEY_REVERSE), DG_CONTROL_NONE);
    EXPECT_EQ(write(nullptr, DG_KEY_BAUD, 4545), 0);
}

}  // namespace
