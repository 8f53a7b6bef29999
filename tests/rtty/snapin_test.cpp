// DGrtty.so as the module sees it: setup record, encoder and twiddle driven with
// the module's capacity and batches, decoder fed 3250-sample blocks, bad
// arguments, and the tones taken from the settings file.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <DGSnapin.h>

#include "fsk_oscillator.h"
#include "rtty_channel.h"
#include "rtty_timing.h"
#include "rtty_transmitter.h"
#include "tone_probe.h"

namespace {

using rtty::kCharSamples;
using rtty::testing::kDecodeBlock;
using rtty::testing::kEncodeBatch;
using rtty::testing::kEncodeCapacity;
using rtty::testing::kEveryCharacter;
using rtty::testing::TonePower;

constexpr int16_t kSentinel = 0x5A5A;
constexpr int kTwiddleBlock = 8000;

class RttySnapin : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_library = dlopen(DGRTTY_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(m_library, nullptr) << dlerror();
        getSetup = Resolve<PFN_GetDGSetup>("GetDGSetup");
        init = Resolve<PFN_InitRUZada>("InitRUZada");
        twiddle = Resolve<PFN_GetDGTwiddle>("GetDGTwiddle");
        hasData = Resolve<PFN_HasDGData>("HasDGData");
        encodeA = Resolve<PFN_EncodeDGDataA>("EncodeDGDataA");
        encodeW = Resolve<PFN_EncodeDGDataW>("EncodeDGDataW");
        decodeA = Resolve<PFN_DecodeDGDataA>("DecodeDGDataA");
        decodeW = Resolve<PFN_DecodeDGDataW>("DecodeDGDataW");
    }

    void TearDown() override
    {
        if (m_library != nullptr)
            dlclose(m_library);
    }

    template <typename Function>
    Function Resolve(const char* name)
    {
        auto function = reinterpret_cast<Function>(dlsym(m_library, name));
        EXPECT_NE(function, nullptr) << name;
        return function;
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

    // Feeds `audio` and a second of silence in 3250-sample blocks to DecodeDGDataW.
    std::string Receive(std::vector<int16_t> audio)
    {
        audio.resize(audio.size() + rtty::kSampleRate);
        std::string text;
        for (size_t at = 0; at + kDecodeBlock <= audio.size(); at += kDecodeBlock) {
            char16_t chars[DG_DECODE_CAPACITY];
            const int n = decodeW(audio.data() + at, kDecodeBlock, chars, DG_DECODE_CAPACITY);
            EXPECT_LE(n, DG_DECODE_CAPACITY);
            for (int i = 0; i < n; ++i)
                text += static_cast<char>(chars[i]);
        }
        return text;
    }

    void UseSettings(const std::string& contents)
    {
        const std::filesystem::path path = std::filesystem::path(::testing::TempDir()) /
                                           ("rtty-settings-" + std::to_string(getpid()) + ".ini");
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
    PFN_DecodeDGDataW decodeW = nullptr;

private:
    void* m_library = nullptr;
};

TEST_F(RttySnapin, FillsTheSetupRecord)
{
    DGSETUP setup;
    std::memset(&setup, 0, sizeof setup);
    setup.cbSize = DGSETUP_SIZE;
    getSetup(&setup);
    EXPECT_EQ(std::u16string(setup.szName), u"RTTY");
    EXPECT_EQ(setup.qwMode, 32u);
    EXPECT_EQ(setup.bNoSoundCard, 0);
    EXPECT_EQ(setup.bNoSoundOutput, 0);
    EXPECT_EQ(setup.bNoSoundInput, 0);

    // A record that says it is smaller is left alone.
    DGSETUP small;
    std::memset(&small, 0, sizeof small);
    small.cbSize = 100;
    getSetup(&small);
    EXPECT_EQ(small.qwMode, 0u);
    EXPECT_EQ(small.szName[0], 0);
    getSetup(nullptr);
}

TEST_F(RttySnapin, WhatItSendsItReceives)
{
    init(8000.0);
    EXPECT_EQ(Receive(Send(kEveryCharacter)), kEveryCharacter);
}

TEST_F(RttySnapin, WideTextInNarrowTextOut)
{
    init(8000.0);
    const std::u16string wide = u"ryry de dl2xyz 599";
    std::vector<int16_t> block(kEncodeCapacity);
    std::vector<int16_t> audio(block.begin(), block.begin() + encodeW(block.data(), kEncodeCapacity, wide.data(),
                                                                      static_cast<int>(wide.size())));
    audio.resize(audio.size() + kTwiddleBlock);
    twiddle(audio.data() + audio.size() - kTwiddleBlock, kTwiddleBlock);
    audio.resize(audio.size() + rtty::kSampleRate);

    std::string text;
    for (size_t at = 0; at + kDecodeBlock <= audio.size(); at += kDecodeBlock) {
        char chars[DG_DECODE_CAPACITY];
        const int n = decodeA(audio.data() + at, kDecodeBlock, chars, DG_DECODE_CAPACITY);
        text.append(chars, static_cast<size_t>(n));
    }
    EXPECT_EQ(text, "RYRY DE DL2XYZ 599");
}

TEST_F(RttySnapin, AnOverOpensWithMarkThenIdlesInStep)
{
    init(8000.0);
    std::vector<int16_t> audio(kTwiddleBlock);
    ASSERT_EQ(twiddle(audio.data(), kTwiddleBlock), kTwiddleBlock);
    const rtty::Tones tones = rtty::testing::kDefaultTones;
    EXPECT_TRUE(rtty::testing::HoldsMark(audio.data(), rtty::RttyTransmitter::kLeadInSamples, tones));
    EXPECT_EQ(hasData(), 0);
    EXPECT_LT(rtty::testing::LargestStray(audio, tones), 0.12 * rtty::FskOscillator::kAmplitude);
}

TEST_F(RttySnapin, EncoderNeverWritesPastItsCapacityAndKeepsTheRest)
{
    init(8000.0);
    std::vector<int16_t> block(kEncodeCapacity + 16, kSentinel);
    EXPECT_EQ(encodeA(block.data(), 100, "RY", 2), 100);
    EXPECT_TRUE(std::all_of(block.begin() + 100, block.end(), [](int16_t s) { return s == kSentinel; }));
    EXPECT_NE(hasData(), 0);

    // No room: the characters wait.
    std::fill(block.begin(), block.end(), kSentinel);
    EXPECT_EQ(encodeA(block.data(), 0, "E", 1), 0);
    EXPECT_EQ(encodeA(block.data(), -7, "E", 1), 0);
    EXPECT_EQ(encodeA(nullptr, 500, "E", 1), 0);
    EXPECT_TRUE(std::all_of(block.begin(), block.end(), [](int16_t s) { return s == kSentinel; }));

    // What did not fit comes with the next call: lead-in, two letters shifts,
    // R, Y and three E (already in letters).
    const int rest = encodeA(block.data(), kEncodeCapacity, nullptr, 0);
    EXPECT_EQ(100 + rest, rtty::RttyTransmitter::kLeadInSamples + 7 * kCharSamples);
    EXPECT_EQ(hasData(), 0);
    EXPECT_EQ(encodeA(block.data(), kEncodeCapacity, nullptr, 0), 0);
}

TEST_F(RttySnapin, EncoderIgnoresBatchesWithNothingToSend)
{
    init(8000.0);
    std::vector<int16_t> block(1000, kSentinel);
    EXPECT_EQ(encodeA(block.data(), 1000, "", 0), 0);
    EXPECT_EQ(encodeA(block.data(), 1000, "E", -3), 0);
    EXPECT_EQ(encodeA(block.data(), 1000, "@*~", 3), 0);
    const char16_t unsendable[] = {u'\u00e9', u'\u20ac', 0xFFFF};
    EXPECT_EQ(encodeW(block.data(), 1000, unsendable, 3), 0);
    EXPECT_EQ(twiddle(block.data(), 0), 0);
    EXPECT_EQ(twiddle(block.data(), -1), 0);
    EXPECT_EQ(twiddle(nullptr, 1000), 0);
    EXPECT_TRUE(std::all_of(block.begin(), block.end(), [](int16_t s) { return s == kSentinel; }));
    EXPECT_EQ(hasData(), 0);
}

TEST_F(RttySnapin, DecoderTakesOddCallsAndHoldsWhatDoesNotFit)
{
    init(8000.0);
    std::vector<int16_t> audio = Send("RYRY");
    audio.resize(audio.size() + rtty::kSampleRate);
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

TEST_F(RttySnapin, FullScaleNoiseDecodesToNothing)
{
    init(8000.0);
    std::mt19937 random(9);
    std::uniform_int_distribution<int> anyValue(-32768, 32767);
    std::vector<int16_t> block(kDecodeBlock);
    int decoded = 0;
    for (int i = 0; i < 100; ++i) {
        for (int16_t& s : block)
            s = static_cast<int16_t>(anyValue(random));
        char16_t chars[DG_DECODE_CAPACITY];
        decoded += decodeW(block.data(), kDecodeBlock, chars, DG_DECODE_CAPACITY);
    }
    EXPECT_EQ(decoded, 0);
}

TEST_F(RttySnapin, TonesComeFromTheSettingsFile)
{
    UseSettings("[RTTY]\nMarkFrequency=2125\nShift=850\nReverse=1\n");
    init(8000.0);
    std::vector<int16_t> audio(kTwiddleBlock);
    twiddle(audio.data(), kTwiddleBlock);
    // Reversed: mark, which the lead-in holds, is the lower tone.
    const int leadIn = rtty::RttyTransmitter::kLeadInSamples;
    EXPECT_GT(TonePower(audio.data(), leadIn, 1275.0), 100.0 * TonePower(audio.data(), leadIn, 2125.0));
    EXPECT_EQ(Receive(Send("WIDE SHIFT 850")), "WIDE SHIFT 850");
}

TEST_F(RttySnapin, SettingsOutOfRangeFallBackToTheDefaults)
{
    UseSettings("[rtty]\nmarkfrequency=5000\nshift=10\n");
    init(8000.0);
    std::vector<int16_t> audio(kTwiddleBlock);
    twiddle(audio.data(), kTwiddleBlock);
    const int leadIn = rtty::RttyTransmitter::kLeadInSamples;
    EXPECT_GT(TonePower(audio.data(), leadIn, 1585.0), 100.0 * TonePower(audio.data(), leadIn, 1415.0));
}

} // namespace
