// DGrtty.so as the module sees it: setup record, the narrow encoder and decoder
// with the module's capacity, batches and blocks (the wide ones run inside the
// module in module_test.cpp), bad arguments, the settings file, and the run-time
// controls, written from another thread while the codec runs too.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <DGSnapin.h>

#include "rtty_channel.h"
#include "rtty_timing.h"
#include "rtty_transmitter.h"
#include "tone_probe.h"

namespace {

using namespace rz::rtty::testing;
using rz::rtty::kCharSamples;

constexpr int16_t kSentinel = 0x5A5A;
constexpr int kTwiddleBlock = 8000;

bool Untouched(const std::vector<int16_t>& block, size_t from = 0)
{
    return std::all_of(block.begin() + static_cast<long>(from), block.end(), [](int16_t s) { return s == kSentinel; });
}

class RttySnapin : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (const char* settings = getenv("RUZADA_INI"))
            m_settings = settings;
        m_library = dlopen(DGRTTY_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(m_library, nullptr) << dlerror();
        getSetup = Resolve<PFN_GetDGSetup>("GetDGSetup");
        init = Resolve<PFN_InitRUZada>("InitRUZada");
        twiddle = Resolve<PFN_GetDGTwiddle>("GetDGTwiddle");
        hasData = Resolve<PFN_HasDGData>("HasDGData");
        encodeA = Resolve<PFN_EncodeDGDataA>("EncodeDGDataA");
        encodeW = Resolve<PFN_EncodeDGDataW>("EncodeDGDataW");
        decodeA = Resolve<PFN_DecodeDGDataA>("DecodeDGDataA");
        command = Resolve<PFN_DoDGCommand>("DoDGCommand");
        control = Resolve<PFN_InvokeDGFunc>("InvokeDGFunc20");
        ASSERT_TRUE(getSetup && init && twiddle && hasData && encodeA && encodeW && decodeA && command && control);
        init(8000.0);
    }

    void TearDown() override
    {
        if (m_library != nullptr)
            dlclose(m_library);
        if (m_settings)
            setenv("RUZADA_INI", m_settings->c_str(), 1);
        else
            unsetenv("RUZADA_INI");
    }

    template <typename Function>
    Function Resolve(const char* name)
    {
        return reinterpret_cast<Function>(dlsym(m_library, name));
    }

    // Sends `text` as the transmit thread does, then a second of twiddle.
    std::vector<int16_t> Send(const std::string& text)
    {
        std::vector<int16_t> audio;
        std::vector<int16_t> block(kEncodeCapacity);
        for (size_t at = 0; at < text.size(); at += kEncodeBatch) {
            const std::string batch = text.substr(at, kEncodeBatch);
            const int n = encodeA(block.data(), kEncodeCapacity, batch.data(), static_cast<int>(batch.size()));
            EXPECT_GT(n, 0);
            audio.insert(audio.end(), block.begin(), block.begin() + n);
        }
        EXPECT_EQ(twiddle(block.data(), kTwiddleBlock), kTwiddleBlock);
        audio.insert(audio.end(), block.begin(), block.begin() + kTwiddleBlock);
        return audio;
    }

    // Feeds `audio` and a second of silence in 3250-sample blocks to the narrow decoder.
    std::string Receive(std::vector<int16_t> audio)
    {
        audio.resize(audio.size() + rz::rtty::kSampleRate);
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
        const std::string path = (std::filesystem::path(::testing::TempDir()) / "rtty-settings.ini").string();
        std::ofstream(path) << contents;
        setenv("RUZADA_INI", path.c_str(), 1);
    }

    PFN_GetDGSetup getSetup = nullptr;
    PFN_InitRUZada init = nullptr;
    PFN_GetDGTwiddle twiddle = nullptr;
    PFN_HasDGData hasData = nullptr;
    PFN_EncodeDGDataA encodeA = nullptr;
    PFN_EncodeDGDataW encodeW = nullptr;
    PFN_DecodeDGDataA decodeA = nullptr;
    PFN_DoDGCommand command = nullptr;
    PFN_InvokeDGFunc control = nullptr;

    int32_t Read(uint32_t key) const { return static_cast<int32_t>(command(DG_CONTROL_READ | key)); }
    bool Write(uint32_t key, int32_t value) const { return control(nullptr, key, static_cast<uint32_t>(value)) == 1; }

private:
    void* m_library = nullptr;
    std::optional<std::string> m_settings;
};

TEST_F(RttySnapin, FillsTheSetupRecordOnlyWhenItIsWholeSized)
{
    DGSETUP setup;
    std::memset(&setup, 0, sizeof setup);
    setup.cbSize = DGSETUP_SIZE;
    getSetup(&setup);
    EXPECT_EQ(std::u16string(setup.szName), u"RTTY");
    EXPECT_EQ(setup.qwMode, 32u);
    EXPECT_EQ(setup.bNoSoundCard | setup.bNoSoundOutput | setup.bNoSoundInput, 0);

    DGSETUP small;
    std::memset(&small, 0, sizeof small);
    small.cbSize = 100;
    getSetup(&small);
    EXPECT_EQ(small.qwMode, 0u);
    EXPECT_EQ(small.szName[0], 0);
    getSetup(nullptr);
}

TEST_F(RttySnapin, EncoderNeverWritesPastItsCapacityAndKeepsTheRest)
{
    std::vector<int16_t> block(kEncodeCapacity + 16, kSentinel);
    EXPECT_EQ(encodeA(block.data(), 100, "RY", 2), 100);
    EXPECT_TRUE(Untouched(block, 100));
    EXPECT_NE(hasData(), 0);

    // No room: the characters wait.
    std::fill(block.begin(), block.end(), kSentinel);
    EXPECT_EQ(encodeA(block.data(), 0, "E", 1), 0);
    EXPECT_EQ(encodeA(block.data(), -7, "E", 1), 0);
    EXPECT_EQ(encodeA(nullptr, 500, "E", 1), 0);
    EXPECT_TRUE(Untouched(block));

    // What did not fit comes with the next call: lead-in, two letters shifts,
    // R, Y and three E (already in letters).
    const int rest = encodeA(block.data(), kEncodeCapacity, nullptr, 0);
    EXPECT_EQ(100 + rest, rz::rtty::RttyTransmitter::kLeadInSamples + 7 * kCharSamples);
    EXPECT_EQ(encodeA(block.data(), kEncodeCapacity, nullptr, 0), 0);
    // The tail still waits for the first idle; then the text is out.
    EXPECT_NE(hasData(), 0);
    EXPECT_EQ(twiddle(block.data(), kTwiddleBlock), kTwiddleBlock);
    EXPECT_EQ(hasData(), 0);
}

TEST_F(RttySnapin, EncoderIgnoresBatchesWithNothingToSend)
{
    std::vector<int16_t> block(1000, kSentinel);
    EXPECT_EQ(encodeA(block.data(), 1000, "", 0), 0);
    EXPECT_EQ(encodeA(block.data(), 1000, "E", -3), 0);
    EXPECT_EQ(encodeA(block.data(), 1000, "@*~", 3), 0);
    const char16_t unsendable[] = {u'\u00e9', u'\u20ac', 0xFFFF};
    EXPECT_EQ(encodeW(block.data(), 1000, unsendable, 3), 0);
    EXPECT_EQ(twiddle(block.data(), 0), 0);
    EXPECT_EQ(twiddle(block.data(), -1), 0);
    EXPECT_EQ(twiddle(nullptr, 1000), 0);
    EXPECT_TRUE(Untouched(block));
    EXPECT_EQ(hasData(), 0);
}

TEST_F(RttySnapin, DecoderTakesOddCallsAndHoldsWhatDoesNotFit)
{
    std::vector<int16_t> audio = Send("RYRY");
    audio.resize(audio.size() + rz::rtty::kSampleRate);
    char chars[DG_DECODE_CAPACITY] = {};
    EXPECT_EQ(decodeA(nullptr, kDecodeBlock, chars, DG_DECODE_CAPACITY), 0);
    EXPECT_EQ(decodeA(audio.data(), 0, chars, DG_DECODE_CAPACITY), 0);
    EXPECT_EQ(decodeA(audio.data(), -20, chars, DG_DECODE_CAPACITY), 0);
    // All the audio with no room for text: the text waits.
    EXPECT_EQ(decodeA(audio.data(), static_cast<int>(audio.size()), chars, 0), 0);
    EXPECT_EQ(decodeA(audio.data(), 0, nullptr, DG_DECODE_CAPACITY), 0);
    EXPECT_EQ(decodeA(nullptr, 0, chars, 3), 3);
    EXPECT_EQ(std::string(chars, 3), "RYR");
    EXPECT_EQ(decodeA(nullptr, 0, chars, DG_DECODE_CAPACITY), 1);
    EXPECT_EQ(chars[0], 'Y');
}

TEST_F(RttySnapin, TonesComeFromTheSettingsFileWithDefaultsForValuesOutOfRange)
{
    const struct {
        const char* settings;
        double markHz;
        double spaceHz;
    } cases[] = {
        {"[RTTY]\nMarkFrequency=2125\nShift=850\nReverse=1\n", 1275.0, 2125.0},
        {"[rtty]\nmarkfrequency=5000\nshift=10\n", 1585.0, 1415.0},
    };
    const int leadIn = rz::rtty::RttyTransmitter::kLeadInSamples;
    for (const auto& c : cases) {
        UseSettings(c.settings);
        init(8000.0);
        std::vector<int16_t> audio(kTwiddleBlock);
        twiddle(audio.data(), kTwiddleBlock);
        // The lead-in holds mark.
        EXPECT_GT(TonePower(audio.data(), leadIn, c.markHz), 100.0 * TonePower(audio.data(), leadIn, c.spaceHz))
            << c.settings;
        EXPECT_EQ(Receive(Send("RYRY DE DL2XYZ 599")), "RYRY DE DL2XYZ 599") << c.settings;
    }
}

TEST_F(RttySnapin, ControlsStartFromTheSettingsFileAndTakeWritesWithinWhatTheModemCanDo)
{
    UseSettings(
        "[RTTY]\nCarrier=2210\nShift=850\nReverse=1\nBaud=50\nStopBits=2\nUnshiftOnSpace=0\nAFC=0\nSquelch=30\n");
    init(8000.0);
    const struct {
        uint32_t key;
        int32_t value;
    } read[] = {
        {DG_KEY_CONTROL, DG_CONTROL_VERSION},
        {DG_KEY_CARRIER, 22100},
        {DG_KEY_SHIFT, 850},
        {DG_KEY_REVERSE, 1},
        {DG_KEY_BAUD, 5000},
        {DG_KEY_STOP_BITS, 4},
        {DG_KEY_UNSHIFT_ON_SPACE, 0},
        {DG_KEY_AFC, 0},
        {DG_KEY_SQUELCH, 30},
        {DG_KEY_IDLE, 1},
        {DG_KEY_TRACKED, 22100},
        {DG_KEY_QUALITY, 0},
        {DG_KEY_SUBMODE, DG_CONTROL_NONE},
        {DG_KEY_WPM, DG_CONTROL_NONE},
    };
    for (const auto& r : read)
        EXPECT_EQ(Read(r.key), r.value) << "key " << r.key;

    const struct {
        uint32_t key;
        int32_t value;
        bool taken;
        int32_t readBack;
    } writes[] = {
        // Both tones stay within 300-3500 Hz.
        {DG_KEY_CARRIER, 999999, true, 30750},
        {DG_KEY_CARRIER, 15000, true, 15000},
        {DG_KEY_SHIFT, 5, true, 50},
        {DG_KEY_SHIFT, 4000, true, 1000},
        {DG_KEY_BAUD, 1, true, 4000},
        {DG_KEY_BAUD, 4500, true, 4500},
        {DG_KEY_STOP_BITS, 9, true, 4},
        {DG_KEY_SQUELCH, 150, true, 100},
        {DG_KEY_AFC, 7, true, 1},
        {DG_KEY_TRACKED, 1, false, 22100},
        {DG_KEY_QUALITY, 1, false, 0},
        {DG_KEY_SUBMODE, 1, false, DG_CONTROL_NONE},
    };
    for (const auto& w : writes) {
        EXPECT_EQ(Write(w.key, w.value), w.taken) << "key " << w.key << " value " << w.value;
        EXPECT_EQ(Read(w.key), w.readBack) << "key " << w.key << " value " << w.value;
    }
    EXPECT_FALSE(Write(DG_CONTROL_KEY_MASK + 1, 1));
    // Selecting the mode starts again from the settings file.
    init(8000.0);
    EXPECT_EQ(Read(DG_KEY_CARRIER), 22100);
}

TEST_F(RttySnapin, WrittenTonesAndBaudTakeEffectAtTheNextCallInBothDirections)
{
    const std::string text = "RYRY DE DL2XYZ 599";
    EXPECT_TRUE(Write(DG_KEY_CARRIER, 20000));
    std::vector<int16_t> audio(kTwiddleBlock);
    twiddle(audio.data(), kTwiddleBlock);
    // The lead-in holds mark, now half a shift above 2000 Hz.
    EXPECT_GT(TonePower(audio.data(), 1320, 2085.0), 100.0 * TonePower(audio.data(), 1320, 1585.0));
    EXPECT_EQ(Receive(Send(text)), text);
    EXPECT_TRUE(Write(DG_KEY_BAUD, 10000));
    EXPECT_TRUE(Write(DG_KEY_REVERSE, 1));
    EXPECT_EQ(Receive(Send(text)), text);
}

TEST_F(RttySnapin, ReceiverTellsWhereItListensAndHowWellAndItsSquelchHoldsBackWeakText)
{
    const std::string text = "RYRY DE DL2XYZ 599 RYRY DE DL2XYZ 599";
    // The far station 20 Hz high: the receiver follows it there.
    std::vector<int16_t> clean = TransmitText(text, {1605.0, 1435.0}, 2 * kCharSamples);
    char chars[DG_DECODE_CAPACITY];
    decodeA(clean.data(), static_cast<int>(clean.size()), chars, 0);
    EXPECT_NEAR(Read(DG_KEY_TRACKED), 15200, 50);
    EXPECT_GE(Read(DG_KEY_QUALITY), 80);
    std::vector<int16_t> noise = AddNoise(std::vector<int16_t>(4 * kDecodeBlock, 0), 0.0, 3, 0, 0);
    decodeA(noise.data(), static_cast<int>(noise.size()), chars, 0);
    EXPECT_LE(Read(DG_KEY_QUALITY), 5);
    EXPECT_EQ(Receive({}), text);

    const std::vector<int16_t> weak = AddNoise(TransmitText(text, kDefaultTones, 2 * kCharSamples), 0.0, 4, 8000, 0);
    EXPECT_TRUE(Write(DG_KEY_SQUELCH, 90));
    EXPECT_EQ(Receive(weak), "");
    EXPECT_TRUE(Write(DG_KEY_SQUELCH, 0));
    EXPECT_EQ(Receive(weak), text);
}

TEST_F(RttySnapin, WritesFromAnotherThreadWhileTheCodecRunsAreTakenWhole)
{
    std::atomic<bool> done{false};
    std::thread host([&] {
        for (int i = 0; !done; ++i) {
            Write(DG_KEY_CARRIER, i % 2 == 0 ? 15000 : 15500);
            Write(DG_KEY_SHIFT, i % 2 == 0 ? 170 : 200);
            Write(DG_KEY_SQUELCH, i % 100);
            Read(DG_KEY_TRACKED);
            Read(DG_KEY_QUALITY);
        }
    });
    std::vector<int16_t> block(kTwiddleBlock);
    char chars[DG_DECODE_CAPACITY];
    for (int i = 0; i < 20; ++i) {
        encodeA(block.data(), kEncodeCapacity, "RY", 2);
        twiddle(block.data(), kTwiddleBlock);
        decodeA(block.data(), kDecodeBlock, chars, DG_DECODE_CAPACITY);
    }
    done = true;
    host.join();
    EXPECT_TRUE(Write(DG_KEY_CARRIER, 15500));
    EXPECT_TRUE(Write(DG_KEY_SHIFT, 200));
    twiddle(block.data(), kTwiddleBlock);
    twiddle(block.data(), kTwiddleBlock);
    // Idle letters shifts on the last tones written: mark at 1650 Hz.
    EXPECT_GT(TonePower(block.data(), kTwiddleBlock, 1650.0), 10.0 * TonePower(block.data(), kTwiddleBlock, 1585.0));
}

}  // namespace
