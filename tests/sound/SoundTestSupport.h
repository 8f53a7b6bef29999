// What the sound tests share: the choice of wave driver, WAV files read and
// written without the driver's own library, the module state that attach would
// have built, and a sink for the message boxes.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <thread>
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

// Every call of a device's callback, in order, with the device's position in
// samples when a buffer came back.
class CallbackLog {
public:
    struct Call {
        UINT message;
        WAVEHDR* header;
        std::thread::id thread;
        DWORD position;
    };
    static void Record(void* device, UINT message, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR);
    std::vector<Call> Calls() const;
    std::vector<Call> Calls(UINT message) const;
    size_t Count(UINT message) const { return Calls(message).size(); }

private:
    mutable std::mutex m_lock;
    std::vector<Call> m_calls;
};

// Headers over buffers of their own, as a program keeps them.
struct Buffers {
    Buffers(size_t count, DWORD bytes, char fill = 0);
    std::vector<std::vector<char>> data;
    std::vector<WAVEHDR> headers;
};

// A capture or playback device of the current driver, opened with a callback to
// `log` when one is given, reset and closed when it goes unless closed before.
class WaveDevice {
public:
    WaveDevice(bool capture, const WAVEFORMATEX& format, CallbackLog* log = nullptr, UINT id = 0);
    ~WaveDevice();
    WaveDevice(const WaveDevice&) = delete;
    WaveDevice& operator=(const WaveDevice&) = delete;

    MMRESULT Opened() const { return m_opened; }
    void* Handle() const { return m_handle; }
    // Prepares and queues; capture starts too.
    MMRESULT Queue(WAVEHDR& header);
    // The format answered and the value of a position asked in `format`.
    std::pair<UINT, DWORD> Position(UINT format) const;
    MMRESULT Reset();
    MMRESULT Close();
    // waveInGetPosition or waveOutGetPosition on any handle.
    static MMRESULT Position(bool capture, void* handle, MMTIME* time, UINT size);

private:
    bool m_capture;
    void* m_handle = nullptr;
    MMRESULT m_opened;
};

// Records `count` buffers of `bytes` each on a fresh capture device and returns
// what came, in order.
std::vector<uint8_t> Record(const WAVEFORMATEX& format, size_t count, DWORD bytes);
std::vector<uint8_t> Bytes(const std::vector<int16_t>& samples);

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
