// The PortAudio backend: real sound cards. PortAudio calls back on its own
// real-time thread; a lock-free ring per stream stands between that thread and the
// device's driver thread, so the real-time side never waits. Playback plays
// silence when the ring runs dry, and capture drops what does not fit.
#include <dlfcn.h>
#include <link.h>

#include <alsa/asoundlib.h>
#include <portaudio.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "wave/Backend.h"
#include "wave/portaudio/StreamCloser.h"

namespace rz::wave {
namespace {

// How much audio each ring holds: capture must ride out a late driver thread,
// playback only needs to stay ahead of the device.
constexpr auto kCaptureRing = std::chrono::milliseconds(1000);
constexpr auto kPlaybackRing = std::chrono::milliseconds(300);
// Sound servers are asked for at least this much buffering, in seconds: enough to
// ride out a busy machine, little beside the modes' own delays.
constexpr PaTime kLeastLatency = 0.2;
// A device whose callbacks stop for this long has failed.
constexpr auto kStallLimit = std::chrono::seconds(2);
// How long closing a stream may hold its caller up; one that takes longer is
// left to close, or not, on its own.
constexpr auto kCloseBound = std::chrono::seconds(1);
constexpr auto kShortestWait = std::chrono::milliseconds(1);
constexpr auto kLongestWait = std::chrono::milliseconds(50);

// ALSA and JACK print dozens of lines while PortAudio probes them; a host's
// terminal is no place for them. stderr itself stays open.
void QuietAlsa(const char*, int, const char*, int, const char*, ...) {}
void QuietJack(const char*) {}

void QuietHostLibraries()
{
    snd_lib_error_set_handler(QuietAlsa);
    // PortAudio brings libjack in; reach it without linking it ourselves.
    if (void* jack = dlopen("libjack.so.0", RTLD_LAZY | RTLD_NOLOAD)) {
        using SetHandler = void (*)(void (*)(const char*));
        for (const char* name : {"jack_set_error_function", "jack_set_info_function"}) {
            if (auto set = reinterpret_cast<SetHandler>(dlsym(jack, name)))
                set(QuietJack);
        }
        dlclose(jack);
    }
}

MMRESULT ToResult(PaError error)
{
    switch (error) {
        case paInvalidDevice:
            return MMSYSERR_BADDEVICEID;
        case paDeviceUnavailable:
            return MMSYSERR_ALLOCATED;
        case paInvalidChannelCount:
        case paInvalidSampleRate:
        case paSampleFormatNotSupported:
            return WAVERR_BADFORMAT;
        case paInsufficientMemory:
            return MMSYSERR_NOMEM;
        default:
            return MMSYSERR_ERROR;
    }
}

std::string Reason(PaError error)
{
    std::string text = std::string("portaudio: ") + Pa_GetErrorText(error);
    if (error == paUnanticipatedHostError) {
        if (const PaHostErrorInfo* host = Pa_GetLastHostErrorInfo(); host && host->errorText)
            text += std::string(": ") + host->errorText;
    }
    return text;
}

// One producer, one consumer, positions counted from the start.
class ByteRing {
public:
    explicit ByteRing(size_t capacity) : m_data(capacity) {}
    size_t Capacity() const { return m_data.size(); }

    size_t Write(const uint8_t* source, size_t bytes)
    {
        const size_t written = m_written.load(std::memory_order_relaxed);
        const size_t count = std::min(bytes, m_data.size() - (written - m_read.load(std::memory_order_acquire)));
        for (size_t done = 0; done < count;) {
            const size_t at = (written + done) % m_data.size();
            const size_t run = std::min(count - done, m_data.size() - at);
            std::memcpy(m_data.data() + at, source + done, run);
            done += run;
        }
        m_written.store(written + count, std::memory_order_release);
        return count;
    }

    size_t Filled() const { return m_written.load(std::memory_order_acquire) - m_read.load(std::memory_order_acquire); }

    // A null destination drops the bytes.
    size_t Read(uint8_t* destination, size_t bytes)
    {
        const size_t read = m_read.load(std::memory_order_relaxed);
        const size_t count = std::min(bytes, m_written.load(std::memory_order_acquire) - read);
        for (size_t done = 0; destination && done < count;) {
            const size_t at = (read + done) % m_data.size();
            const size_t run = std::min(count - done, m_data.size() - at);
            std::memcpy(destination + done, m_data.data() + at, run);
            done += run;
        }
        m_read.store(read + count, std::memory_order_release);
        return count;
    }

private:
    std::vector<uint8_t> m_data;
    std::atomic<size_t> m_read{0};
    std::atomic<size_t> m_written{0};
};

// What a stream's callback reaches. It lives until the stream has closed, which
// for a stream stuck on a vanished server is never.
struct CallbackState {
    CallbackState(const StreamFormat& streamFormat, size_t ringBytes) : format(streamFormat), ring(ringBytes) {}
    const StreamFormat format;
    ByteRing ring;
    std::atomic<uint64_t> callbacks{0};
    std::atomic<Clock::rep> lastAudio{0};  // when the callback last took audio
};

size_t RingBytes(const StreamFormat& format, Clock::duration ringTime)
{
    const auto milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(ringTime).count();
    return std::max<size_t>(format.frameBytes,
                            milliseconds * format.bytesPerSecond / 1000 / format.frameBytes * format.frameBytes);
}

// One open PortAudio stream and its ring.
class Channel {
public:
    Channel(const StreamFormat& format, Alarm& alarm, Clock::duration ringTime)
        : m_state(std::make_shared<CallbackState>(format, RingBytes(format, ringTime))), m_alarm(alarm)
    {}
    ~Channel()
    {
        if (m_stream)
            CloseStream(m_stream, m_state, kCloseBound);
    }
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;

    PaError Open(PaDeviceIndex device, Direction direction)
    {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(device);
        if (!info)
            return paInvalidDevice;
        const StreamFormat& format = m_state->format;
        const bool capture = direction == Direction::Capture;
        const PaTime latency = capture ? info->defaultHighInputLatency : info->defaultHighOutputLatency;
        const PaStreamParameters parameters = {device, format.channels, format.bits == 8 ? paUInt8 : paInt16,
                                               std::max(latency, kLeastLatency), nullptr};
        PaError error = Pa_OpenStream(&m_stream, capture ? &parameters : nullptr, capture ? nullptr : &parameters,
                                      format.rate, paFramesPerBufferUnspecified, paClipOff, Callback, m_state.get());
        if (error != paNoError) {
            m_stream = nullptr;
            return error;
        }
        m_lastCount = 0;
        m_lastChange = Clock::now();
        return Pa_StartStream(m_stream);
    }

    // Moves bytes through the ring, waiting for the device as it goes. A null
    // capture destination drops them.
    template <class Step>
    Moved Move(size_t bytes, Step&& step)
    {
        size_t moved = 0;
        for (;;) {
            moved += step(moved, bytes - moved);
            if (moved == bytes)
                return {bytes};
            if (const char* failure = Failure())
                return {moved, failure};
            const auto wait = std::clamp<Clock::duration>(
                m_state->format.Duration(std::min(bytes - moved, Ring().Capacity() / 2)), kShortestWait, kLongestWait);
            if (!m_alarm.SleepUntil(Clock::now() + wait))
                return {moved};
        }
    }

    ByteRing& Ring() { return m_state->ring; }

    // Frames in the ring, and while the last of them is still in the sound
    // system, what its reported output latency leaves of it.
    size_t HeldFrames() const
    {
        const StreamFormat& format = m_state->format;
        const size_t ringFrames = m_state->ring.Filled() / format.frameBytes;
        const PaStreamInfo* info = m_stream ? Pa_GetStreamInfo(m_stream) : nullptr;
        if (!info)
            return ringFrames;
        const auto latency = std::chrono::duration<double>(info->outputLatency);
        const auto sinceLastAudio = Clock::now() - Clock::time_point(Clock::duration(m_state->lastAudio.load()));
        const std::chrono::duration<double> left =
            ringFrames > 0 ? latency : latency - std::chrono::duration<double>(sinceLastAudio);
        return ringFrames + static_cast<size_t>(std::max(left.count(), 0.0) * format.rate);
    }

private:
    static int Callback(const void* input, void* output, unsigned long frames, const PaStreamCallbackTimeInfo*,
                        PaStreamCallbackFlags, void* user)
    {
        auto* state = static_cast<CallbackState*>(user);
        const size_t bytes = frames * state->format.frameBytes;
        if (input)
            state->ring.Write(static_cast<const uint8_t*>(input), bytes);
        if (output) {
            auto* out = static_cast<uint8_t*>(output);
            const size_t given = state->ring.Read(out, bytes);
            std::memset(out + given, state->format.SilenceByte(), bytes - given);
            if (given > 0)
                state->lastAudio.store(Clock::now().time_since_epoch().count(), std::memory_order_relaxed);
        }
        state->callbacks.fetch_add(1, std::memory_order_relaxed);
        return paContinue;
    }

    const char* Failure()
    {
        if (Pa_IsStreamActive(m_stream) != 1)
            return "portaudio: the stream stopped";
        const uint64_t count = m_state->callbacks.load(std::memory_order_relaxed);
        const Clock::time_point now = Clock::now();
        if (count != m_lastCount) {
            m_lastCount = count;
            m_lastChange = now;
        } else if (now - m_lastChange > kStallLimit) {
            return "portaudio: the device stalled";
        }
        return nullptr;
    }

    const std::shared_ptr<CallbackState> m_state;
    Alarm& m_alarm;
    PaStream* m_stream = nullptr;
    uint64_t m_lastCount = 0;
    Clock::time_point m_lastChange;
};

class PortAudioCapture final : public CaptureStream {
public:
    PortAudioCapture(const StreamFormat& format, Alarm& alarm) : m_channel(format, alarm, kCaptureRing) {}
    PaError Open(PaDeviceIndex device) { return m_channel.Open(device, Direction::Capture); }

    Moved Read(uint8_t* destination, size_t bytes) override
    {
        return m_channel.Move(
            bytes, [&](size_t done, size_t rest) { return m_channel.Ring().Read(destination + done, rest); });
    }

    Moved Drop(size_t bytes) override
    {
        return m_channel.Move(bytes, [&](size_t, size_t rest) { return m_channel.Ring().Read(nullptr, rest); });
    }

private:
    Channel m_channel;
};

class PortAudioPlayback final : public PlaybackStream {
public:
    PortAudioPlayback(const StreamFormat& format, Alarm& alarm) : m_channel(format, alarm, kPlaybackRing) {}
    PaError Open(PaDeviceIndex device) { return m_channel.Open(device, Direction::Playback); }

    Moved Write(const uint8_t* source, size_t bytes) override
    {
        return m_channel.Move(bytes,
                              [&](size_t done, size_t rest) { return m_channel.Ring().Write(source + done, rest); });
    }

    size_t HeldFrames() const override { return m_channel.HeldFrames(); }

private:
    Channel m_channel;
};

// ALSA unloads its plugins when PortAudio terminates, with the allocations of
// the libraries they brought in still held. Pinned, they stay for a restart to
// use again, and what they hold stays reachable.
void PinAlsaPlugins()
{
    std::vector<std::string> plugins;
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* found) {
            if (info->dlpi_name && std::strstr(info->dlpi_name, "/libasound_module_"))
                static_cast<std::vector<std::string>*>(found)->push_back(info->dlpi_name);
            return 0;
        },
        &plugins);
    for (const std::string& plugin : plugins)
        dlopen(plugin.c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}

// Whether PortAudio runs. It starts once per process and starts again only for a
// rescan, which probes every host library anew. Only the driver's calls, made
// under its lock, touch it.
bool paStarted = false;

bool Start()
{
    if (!paStarted) {
        QuietHostLibraries();
        paStarted = Pa_Initialize() == paNoError;
        PinAlsaPlugins();
    }
    return paStarted;
}

class PortAudioBackend final : public Backend {
public:
    PortAudioBackend() { ListDevices(); }

    // PortAudio lists the devices it found when it started, and a sound server
    // that was away then is missing from them. While a stream is still closing
    // the old list stays: a restart would wait for that stream too.
    void Rescan() override
    {
        if (AnyClosePending())
            return;
        if (paStarted)
            Pa_Terminate();
        paStarted = false;
        Start();
        ListDevices();
    }

    unsigned DeviceCount(Direction direction) const override
    {
        return static_cast<unsigned>(Devices(direction).size());
    }

    std::string DeviceName(Direction direction, unsigned device) const override
    {
        return Pa_GetDeviceInfo(Devices(direction)[device])->name;
    }

    unsigned DefaultDevice(Direction direction) const override
    {
        const PaDeviceIndex preferred =
            direction == Direction::Capture ? Pa_GetDefaultInputDevice() : Pa_GetDefaultOutputDevice();
        const std::vector<PaDeviceIndex>& devices = Devices(direction);
        const auto found = std::find(devices.begin(), devices.end(), preferred);
        return found == devices.end() ? 0 : static_cast<unsigned>(found - devices.begin());
    }

    MMRESULT OpenCapture(unsigned device, const StreamFormat& format, Alarm& alarm,
                         std::unique_ptr<CaptureStream>& stream, std::string& reason) override
    {
        return Open<PortAudioCapture>(Devices(Direction::Capture)[device], format, alarm, stream, reason);
    }

    MMRESULT OpenPlayback(unsigned device, const StreamFormat& format, Alarm& alarm,
                          std::unique_ptr<PlaybackStream>& stream, std::string& reason) override
    {
        return Open<PortAudioPlayback>(Devices(Direction::Playback)[device], format, alarm, stream, reason);
    }

private:
    const std::vector<PaDeviceIndex>& Devices(Direction direction) const
    {
        return m_devices[direction == Direction::Capture ? 0 : 1];
    }

    template <class Opened, class Stream>
    static MMRESULT Open(PaDeviceIndex device, const StreamFormat& format, Alarm& alarm,
                         std::unique_ptr<Stream>& stream, std::string& reason)
    {
        auto opened = std::make_unique<Opened>(format, alarm);
        if (const PaError error = opened->Open(device); error != paNoError) {
            reason = Reason(error);
            return ToResult(error);
        }
        stream = std::move(opened);
        return MMSYSERR_NOERROR;
    }

    void ListDevices()
    {
        for (std::vector<PaDeviceIndex>& devices : m_devices)
            devices.clear();
        // Pa_GetDeviceCount is negative while PortAudio does not run.
        for (PaDeviceIndex device = 0; device < Pa_GetDeviceCount(); ++device) {
            const PaDeviceInfo* info = Pa_GetDeviceInfo(device);
            if (info && info->maxInputChannels > 0)
                m_devices[0].push_back(device);
            if (info && info->maxOutputChannels > 0)
                m_devices[1].push_back(device);
        }
    }

    std::vector<PaDeviceIndex> m_devices[2];  // capture, playback
};

std::unique_ptr<Backend> Create()
{
    if (!Start())
        return nullptr;
    return std::make_unique<PortAudioBackend>();
}

}  // namespace

const BackendDescriptor kPortAudioBackend = {"portaudio", "sound cards through PortAudio", false, Create};

}  // namespace rz::wave
