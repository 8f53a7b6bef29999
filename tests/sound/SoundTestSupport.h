// What the sound tests share: the choice of wave driver, devices and their
// callbacks, WAV files for the file driver, the module state that attach would
// have built, and a sink for the message boxes.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <ruzada/wave.h>

#include "SuiteHelpers.h"
#include "WavFile.h"

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

// The file driver, unpaced unless a test paces it, playing to a file of a folder
// of its own; the variables go when it does.
class FileAudio {
public:
    FileAudio()
    {
        UseDriver("file");
        SetVariable("RUZADA_AUDIO_PACE", "0");
        SetVariable("RUZADA_AUDIO_OUT", Path("out.wav").c_str());
    }
    ~FileAudio()
    {
        for (const char* name : {"RUZADA_AUDIO_IN", "RUZADA_AUDIO_OUT", "RUZADA_AUDIO_PACE"})
            SetVariable(name, nullptr);
    }
    // Capture plays these samples from their start at each open.
    void CaptureFrom(uint32_t rate, const std::vector<int16_t>& samples) const
    {
        WriteWav(Path("in.wav"), samples, static_cast<int>(rate));
        SetVariable("RUZADA_AUDIO_IN", Path("in.wav").c_str());
    }
    std::string Path(const std::string& name) const { return m_dir.Path(name); }

private:
    TempDir m_dir;
};

// Every message box shown while it lives: owner, text, caption and type.
class MessageBoxes {
public:
    using Shown = std::tuple<HWND, std::string, std::string, UINT>;
    MessageBoxes() { SetMessageBoxHandler(&Collect, this); }
    ~MessageBoxes() { SetMessageBoxHandler(nullptr, nullptr); }
    std::vector<Shown> All() const
    {
        std::lock_guard hold(m_lock);
        return m_shown;
    }

private:
    static int Collect(HWND owner, const char* text, const char* caption, UINT type, void* self)
    {
        auto* boxes = static_cast<MessageBoxes*>(self);
        std::lock_guard hold(boxes->m_lock);
        boxes->m_shown.emplace_back(owner, text ? text : "", caption ? caption : "", type);
        return IDOK;
    }
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
