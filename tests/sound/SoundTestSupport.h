// What the sound tests share: the choice of wave driver, WAV files read and
// written without the driver's own library, the module state that attach would
// have built, and a sink for the message boxes.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <ruzada/wave.h>

#include "SuiteHelpers.h"

class CSound;

namespace rz::test::sound {

using namespace rz::test::support;

// Picks the wave driver for the next device opened (none may be open).
inline void UseDriver(const char* name) { SetVariable("RUZADA_AUDIODRIVER", name); }

WAVEFORMATEX MonoFormat(uint32_t rate);
// Opens `sound` both ways at 8000 on the loopback cable; false unless both open.
bool OpenOnLoopback(CSound& sound);

// Distinct, non-zero samples: start, start + 1, ... wrapping before 32768.
std::vector<int16_t> Ramp(size_t count, int start = 1);
// Where `part` starts inside `whole`, or -1.
long Find(const std::vector<int16_t>& whole, const std::vector<int16_t>& part);

struct WavData {
    int rate = 0;
    int channels = 0;
    int bits = 0;
    std::vector<uint8_t> data;
    std::vector<int16_t> Samples() const;
};
// A plain 44-byte-header PCM file.
void WriteWav(const std::string& path, int rate, const std::vector<int16_t>& samples);
// Parses the RIFF chunks; nothing when the file is not a complete, consistent WAV.
std::optional<WavData> ReadWav(const std::string& path);

class MessageBoxes {
public:
    struct Shown {
        HWND owner;
        std::string text;
        std::string caption;
        UINT type;
    };
    MessageBoxes();
    ~MessageBoxes();
    std::vector<Shown> All() const;

private:
    static int Collect(HWND owner, const char* text, const char* caption, UINT type, void* self);
    mutable std::mutex m_lock;
    std::vector<Shown> m_shown;
};

// The module state that attach builds and detach releases: the three locks, the
// sound card object and the transmit wake-up event, with the card's settings at
// their load-time values.
class ModuleState : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
};

}  // namespace rz::test::sound
