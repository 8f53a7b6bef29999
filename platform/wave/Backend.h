// The interface between the wave driver's core and its backends. The core checks
// every argument of the public calls, keeps the header queues and runs one driver
// thread per open device; a backend only moves bytes to and from its device.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include <ruzada/wave.h>

#include "wave/Alarm.h"

namespace rz::wave {

enum class Direction { Capture, Playback };

// A format the core has accepted: PCM, 1 or 2 channels, 8 or 16 bits.
struct StreamFormat {
    uint32_t rate;
    uint16_t channels;
    uint16_t bits;
    uint32_t frameBytes;
    uint32_t bytesPerSecond;

    // 8-bit PCM is unsigned: its silence is 0x80.
    uint8_t SilenceByte() const { return bits == 8 ? 0x80 : 0x00; }
    Clock::duration Duration(size_t bytes) const
    {
        return std::chrono::duration_cast<Clock::duration>(
            std::chrono::nanoseconds(bytes * 1000000000ull / bytesPerSecond));
    }
};

// What one transfer moved. `failure` (the backend's reason, valid while the stream
// lives) marks a device that broke: the core goes on with a zombie.
struct Moved {
    size_t bytes = 0;
    const char* failure = nullptr;
};

// Streams run on their device's driver thread only. Every wait inside them must
// end early when the device's alarm rings, so that reset, pause and close never
// wait for the device; they then return what they moved so far. A stream may
// move fewer bytes than asked (whole frames): the core asks again for the rest.
class CaptureStream {
public:
    virtual ~CaptureStream() = default;
    // Fills `bytes` (whole frames) at the device's pace.
    virtual Moved Read(uint8_t* destination, size_t bytes) = 0;
    // Capture runs but nobody takes the audio: lets `bytes` of it go by, lost.
    virtual Moved Drop(size_t bytes) = 0;
};

class PlaybackStream {
public:
    virtual ~PlaybackStream() = default;
    // Plays from `source`, returning how many bytes the device has taken.
    virtual Moved Write(const uint8_t* source, size_t bytes) = 0;
    // Frames taken but not yet out of the device. Any thread may ask.
    virtual size_t HeldFrames() const { return 0; }
};

// One backend, alive while chosen. Calls come from the core under its lock, so a
// backend needs no lock for its own device list. Devices are numbered from 0;
// the core has checked `device` against DeviceCount and the format before Open.
// An open that fails returns its result code and leaves its reason in `reason`.
class Backend {
public:
    virtual ~Backend() = default;
    virtual unsigned DeviceCount(Direction direction) const = 0;
    virtual std::string DeviceName(Direction direction, unsigned device) const = 0;
    virtual unsigned DefaultDevice(Direction) const { return 0; }
    virtual MMRESULT OpenCapture(unsigned device, const StreamFormat& format, Alarm& alarm,
                                 std::unique_ptr<CaptureStream>& stream, std::string& reason) = 0;
    virtual MMRESULT OpenPlayback(unsigned device, const StreamFormat& format, Alarm& alarm,
                                  std::unique_ptr<PlaybackStream>& stream, std::string& reason) = 0;
    // Looks for the devices anew, as at the start: called only while no device is
    // open, before an open that follows a lost device (a sound server that went
    // away may be back, under the same or other device numbers).
    virtual void Rescan() {}
};

// What each backend folder exports: its name for RUZADA_AUDIODRIVER and how to
// start it. `create` returns null where the backend cannot run.
struct BackendDescriptor {
    const char* name;
    const char* description;
    bool onlyWhenNamed;  // never the automatic choice
    std::unique_ptr<Backend> (*create)();
};

extern const BackendDescriptor kPortAudioBackend;
extern const BackendDescriptor kLoopbackBackend;
extern const BackendDescriptor kFileBackend;
extern const BackendDescriptor kNullBackend;

// Clock-paced silence: the null backend's streams, and the zombie that replaces a
// stream whose device failed.
std::unique_ptr<CaptureStream> MakeSilentCapture(const StreamFormat& format, Alarm& alarm);
std::unique_ptr<PlaybackStream> MakeSilentPlayback(const StreamFormat& format, Alarm& alarm);

}  // namespace rz::wave
