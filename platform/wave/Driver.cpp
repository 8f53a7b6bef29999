// The wave driver's public calls: argument checks, the handle table and the
// choice of backend. Everything a device does after open lives in Device.
#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <string>
#include <string_view>

#include "wave/Device.h"

namespace rz::wave {
namespace {

// The order of the automatic choice, as SDL's bootstrap table.
const BackendDescriptor* const kBackends[] = {&kPortAudioBackend, &kLoopbackBackend, &kFileBackend, &kNullBackend};

constexpr uint32_t kMinRate = 1000;
constexpr uint32_t kMaxRate = 192000;

class Driver {
public:
    UINT DeviceCount(Direction direction);
    UINT DriverName(char* buffer, UINT size);
    MMRESULT DeviceName(Direction direction, UINT deviceId, char* buffer, UINT size);
    template <class Stream>
    MMRESULT Open(Direction direction, void** handle, UINT deviceId, const WAVEFORMATEX& format, WAVECALLBACK callback,
                  DWORD_PTR instance);
    MMRESULT Close(Direction direction, void* handle);
    std::shared_ptr<Device> Find(Direction direction, void* handle);
    // The device of that direction opened last of those still open.
    std::shared_ptr<Device> Newest(Direction direction);

    // Whether an open device runs as a zombie.
    BOOL AnyLost();

    void RecordFailure(const char* reason);
    void RecordLoss(const char* reason);
    BOOL TakeFailure(char* buffer, UINT size);

private:
    Backend* Current();
    void Choose(std::string_view names);

    std::mutex m_lock;
    bool m_chosen = false;
    std::string m_chosenFor;  // RUZADA_AUDIODRIVER as it was at the choice
    const BackendDescriptor* m_descriptor = nullptr;
    std::unique_ptr<Backend> m_backend;
    std::map<uintptr_t, std::shared_ptr<Device>> m_devices;
    uintptr_t m_nextHandle = 1;
    // A device of the backend was lost and none has opened on it since: the
    // backend is rescanned before the next open, and what cannot open opens lost.
    std::atomic<bool> m_deviceLost{false};

    std::mutex m_failureLock;
    char m_failure[256] = {};
    bool m_failureFresh = false;
};

// Never destroyed: a host may exit with devices open and their threads running.
Driver& TheDriver()
{
    static Driver* driver = new Driver;
    return *driver;
}

UINT CopyText(std::string_view text, char* buffer, UINT size)
{
    if (buffer && size > 0) {
        const size_t n = std::min<size_t>(text.size(), size - 1);
        std::memcpy(buffer, text.data(), n);
        buffer[n] = '\0';
    }
    return static_cast<UINT>(text.size());
}

bool SameName(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view Trim(std::string_view text)
{
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool OffersBothWays(const Backend& backend)
{
    return backend.DeviceCount(Direction::Capture) > 0 && backend.DeviceCount(Direction::Playback) > 0;
}

void Driver::Choose(std::string_view names)
{
    m_backend.reset();
    m_descriptor = nullptr;
    m_deviceLost = false;
    if (names.empty()) {
        for (const BackendDescriptor* descriptor : kBackends) {
            if (descriptor->onlyWhenNamed)
                continue;
            std::unique_ptr<Backend> backend = descriptor->create();
            if (backend && OffersBothWays(*backend)) {
                m_backend = std::move(backend);
                m_descriptor = descriptor;
                return;
            }
        }
        return;
    }
    while (!names.empty()) {
        const size_t comma = names.find(',');
        const std::string_view name = Trim(names.substr(0, comma));
        names = comma == std::string_view::npos ? std::string_view{} : names.substr(comma + 1);
        for (const BackendDescriptor* descriptor : kBackends) {
            if (!SameName(name, descriptor->name))
                continue;
            if ((m_backend = descriptor->create())) {
                m_descriptor = descriptor;
                return;
            }
        }
    }
}

Backend* Driver::Current()
{
    const char* variable = std::getenv("RUZADA_AUDIODRIVER");
    const std::string_view names = variable ? variable : "";
    if (!m_chosen || (names != m_chosenFor && m_devices.empty())) {
        Choose(names);
        m_chosen = true;
        m_chosenFor = names;
    }
    return m_backend.get();
}

UINT Driver::DeviceCount(Direction direction)
{
    std::lock_guard lock(m_lock);
    Backend* backend = Current();
    return backend ? backend->DeviceCount(direction) : 0;
}

UINT Driver::DriverName(char* buffer, UINT size)
{
    std::lock_guard lock(m_lock);
    Current();
    return CopyText(m_descriptor ? m_descriptor->name : "", buffer, size);
}

MMRESULT Driver::DeviceName(Direction direction, UINT deviceId, char* buffer, UINT size)
{
    if (!buffer)
        return MMSYSERR_INVALPARAM;
    std::lock_guard lock(m_lock);
    Backend* backend = Current();
    if (!backend)
        return MMSYSERR_NODRIVER;
    if (deviceId >= backend->DeviceCount(direction))
        return MMSYSERR_BADDEVICEID;
    CopyText(backend->DeviceName(direction, deviceId), buffer, size);
    return MMSYSERR_NOERROR;
}

bool AcceptedFormat(const WAVEFORMATEX& format)
{
    return format.wFormatTag == WAVE_FORMAT_PCM && (format.nChannels == 1 || format.nChannels == 2) &&
           (format.wBitsPerSample == 8 || format.wBitsPerSample == 16) &&
           format.nBlockAlign == format.nChannels * format.wBitsPerSample / 8 && format.nSamplesPerSec >= kMinRate &&
           format.nSamplesPerSec <= kMaxRate && format.nAvgBytesPerSec == format.nSamplesPerSec * format.nBlockAlign;
}

template <class Stream>
MMRESULT OpenStream(Backend& backend, unsigned device, const StreamFormat& format, Alarm& alarm,
                    std::unique_ptr<Stream>& stream, std::string& reason)
{
    if constexpr (std::is_same_v<Stream, CaptureStream>)
        return backend.OpenCapture(device, format, alarm, stream, reason);
    else
        return backend.OpenPlayback(device, format, alarm, stream, reason);
}

template <class Stream>
MMRESULT Driver::Open(Direction direction, void** handle, UINT deviceId, const WAVEFORMATEX& format,
                      WAVECALLBACK callback, DWORD_PTR instance)
{
    const StreamFormat accepted{format.nSamplesPerSec, format.nChannels, format.wBitsPerSample, format.nBlockAlign,
                                format.nAvgBytesPerSec};
    std::string reason;
    MMRESULT result = MMSYSERR_BADDEVICEID;
    {
        std::lock_guard lock(m_lock);
        Backend* backend = Current();
        if (!backend)
            return MMSYSERR_NODRIVER;
        if (m_deviceLost && m_devices.empty())
            backend->Rescan();
        const unsigned device = deviceId == WAVE_MAPPER ? backend->DefaultDevice(direction) : deviceId;
        auto opened = std::make_shared<Device>(direction, accepted, callback, instance);
        std::unique_ptr<Stream> stream;
        if (device < backend->DeviceCount(direction))
            result = OpenStream(*backend, device, accepted, opened->GetAlarm(), stream, reason);
        // Until the server is back, the host gets a lost device rather than none:
        // its threads keep their pace and it may simply ask again later.
        if (result == MMSYSERR_NOERROR || m_deviceLost) {
            if (stream)
                m_deviceLost = false;
            void* value = reinterpret_cast<void*>(m_nextHandle++);
            opened->Start(value, std::move(stream));
            m_devices.emplace(reinterpret_cast<uintptr_t>(value), opened);
            *handle = value;
            result = MMSYSERR_NOERROR;
        }
    }
    if (!reason.empty())
        RecordFailure(reason.c_str());
    return result;
}

BOOL Driver::AnyLost()
{
    std::lock_guard lock(m_lock);
    return std::any_of(m_devices.begin(), m_devices.end(), [](const auto& entry) { return entry.second->Lost(); });
}

std::shared_ptr<Device> Driver::Find(Direction direction, void* handle)
{
    std::lock_guard lock(m_lock);
    const auto found = m_devices.find(reinterpret_cast<uintptr_t>(handle));
    if (found == m_devices.end() || found->second->GetDirection() != direction)
        return nullptr;
    return found->second;
}

std::shared_ptr<Device> Driver::Newest(Direction direction)
{
    std::lock_guard lock(m_lock);
    // Handles grow with every open: the last match is the newest.
    const auto found = std::find_if(m_devices.rbegin(), m_devices.rend(),
                                    [&](const auto& entry) { return entry.second->GetDirection() == direction; });
    return found == m_devices.rend() ? nullptr : found->second;
}

MMRESULT Driver::Close(Direction direction, void* handle)
{
    const std::shared_ptr<Device> device = Find(direction, handle);
    if (!device)
        return MMSYSERR_INVALHANDLE;
    // Outside the lock: the device's last callbacks may call into the driver.
    const MMRESULT result = device->Close();
    if (result == MMSYSERR_NOERROR) {
        std::lock_guard lock(m_lock);
        m_devices.erase(reinterpret_cast<uintptr_t>(handle));
    }
    return result;
}

void Driver::RecordFailure(const char* reason)
{
    std::lock_guard lock(m_failureLock);
    CopyText(reason, m_failure, sizeof m_failure);
    m_failureFresh = true;
}

void Driver::RecordLoss(const char* reason)
{
    RecordFailure(reason);
    m_deviceLost = true;
}

BOOL Driver::TakeFailure(char* buffer, UINT size)
{
    std::lock_guard lock(m_failureLock);
    if (!m_failureFresh)
        return FALSE;
    m_failureFresh = false;
    CopyText(m_failure, buffer, size);
    return TRUE;
}

// No exception leaves the driver: it becomes the closest result code.
template <class Body>
MMRESULT Guarded(Body&& body) noexcept
{
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return MMSYSERR_NOMEM;
    } catch (...) {
        return MMSYSERR_ERROR;
    }
}

// ... or, for the calls that answer a value, the value that means nothing.
template <class Result, class Body>
Result GuardedValue(Result failure, Body&& body) noexcept
{
    try {
        return body();
    } catch (...) {
        return failure;
    }
}

template <class Stream, class Handle>
MMRESULT OpenDevice(Direction direction, Handle* handle, UINT deviceId, const WAVEFORMATEX* format, DWORD_PTR callback,
                    DWORD_PTR instance, DWORD flags)
{
    if (!handle)
        return MMSYSERR_INVALPARAM;
    *handle = nullptr;
    if (!format)
        return MMSYSERR_INVALPARAM;
    if (flags & ~CALLBACK_TYPEMASK)
        return MMSYSERR_INVALFLAG;
    const DWORD type = flags & CALLBACK_TYPEMASK;
    if (type != CALLBACK_NULL && type != CALLBACK_FUNCTION)
        return MMSYSERR_NOTSUPPORTED;
    if (!AcceptedFormat(*format))
        return WAVERR_BADFORMAT;
    const auto function = type == CALLBACK_FUNCTION ? reinterpret_cast<WAVECALLBACK>(callback) : nullptr;
    return Guarded([&] {
        void* opened = nullptr;
        const MMRESULT result = TheDriver().Open<Stream>(direction, &opened, deviceId, *format, function, instance);
        *handle = static_cast<Handle>(opened);
        return result;
    });
}

template <class Action>
MMRESULT OnDevice(Direction direction, void* handle, Action&& action)
{
    return Guarded([&] {
        const std::shared_ptr<Device> device = TheDriver().Find(direction, handle);
        return device ? action(*device) : MMSYSERR_INVALHANDLE;
    });
}

MMRESULT OnHeader(Direction direction, void* handle, WAVEHDR* header, UINT size, MMRESULT (Device::*action)(WAVEHDR*))
{
    if (!header || size < sizeof(WAVEHDR) || !header->lpData)
        return MMSYSERR_INVALPARAM;
    return OnDevice(direction, handle, [&](Device& device) { return (device.*action)(header); });
}

MMRESULT GetPosition(Direction direction, void* handle, MMTIME* time, UINT size)
{
    if (!time || size < sizeof(MMTIME))
        return MMSYSERR_INVALPARAM;
    return OnDevice(direction, handle, [&](const Device& device) {
        const uint64_t frames = device.FramesDone();
        // Windows drivers answer a format they do not keep in bytes.
        if (time->wType == TIME_SAMPLES) {
            time->u.sample = static_cast<DWORD>(frames);
        } else {
            time->wType = TIME_BYTES;
            time->u.cb = static_cast<DWORD>(frames * device.FrameBytes());
        }
        return MMSYSERR_NOERROR;
    });
}

BOOL GetOpenPosition(Direction direction, DWORD* samples)
{
    if (!samples)
        return FALSE;
    return GuardedValue(BOOL{FALSE}, [&] {
        const std::shared_ptr<Device> device = TheDriver().Newest(direction);
        if (!device)
            return BOOL{FALSE};
        *samples = static_cast<DWORD>(device->FramesDone());
        return BOOL{TRUE};
    });
}

BOOL GetOpenPending(DWORD* frames)
{
    if (!frames)
        return FALSE;
    return GuardedValue(BOOL{FALSE}, [&] {
        const std::shared_ptr<Device> device = TheDriver().Newest(Direction::Playback);
        if (!device)
            return BOOL{FALSE};
        *frames = static_cast<DWORD>(device->FramesPending());
        return BOOL{TRUE};
    });
}

}  // namespace

void RecordLoss(const char* reason) { TheDriver().RecordLoss(reason); }

}  // namespace rz::wave

using rz::wave::Device;
using rz::wave::Direction;
using rz::wave::TheDriver;

UINT waveInGetNumDevs(void)
{
    return rz::wave::GuardedValue(0u, [] { return TheDriver().DeviceCount(Direction::Capture); });
}

UINT waveOutGetNumDevs(void)
{
    return rz::wave::GuardedValue(0u, [] { return TheDriver().DeviceCount(Direction::Playback); });
}

MMRESULT waveInOpen(HWAVEIN* device, UINT deviceId, const WAVEFORMATEX* format, DWORD_PTR callback, DWORD_PTR instance,
                    DWORD flags)
{
    return rz::wave::OpenDevice<rz::wave::CaptureStream>(Direction::Capture, device, deviceId, format, callback,
                                                         instance, flags);
}

MMRESULT waveOutOpen(HWAVEOUT* device, UINT deviceId, const WAVEFORMATEX* format, DWORD_PTR callback,
                     DWORD_PTR instance, DWORD flags)
{
    return rz::wave::OpenDevice<rz::wave::PlaybackStream>(Direction::Playback, device, deviceId, format, callback,
                                                          instance, flags);
}

MMRESULT waveInClose(HWAVEIN device)
{
    return rz::wave::Guarded([&] { return TheDriver().Close(Direction::Capture, device); });
}

MMRESULT waveOutClose(HWAVEOUT device)
{
    return rz::wave::Guarded([&] { return TheDriver().Close(Direction::Playback, device); });
}

MMRESULT waveInPrepareHeader(HWAVEIN device, WAVEHDR* header, UINT size)
{
    return rz::wave::OnHeader(Direction::Capture, device, header, size, &Device::Prepare);
}

MMRESULT waveOutPrepareHeader(HWAVEOUT device, WAVEHDR* header, UINT size)
{
    return rz::wave::OnHeader(Direction::Playback, device, header, size, &Device::Prepare);
}

MMRESULT waveInUnprepareHeader(HWAVEIN device, WAVEHDR* header, UINT size)
{
    return rz::wave::OnHeader(Direction::Capture, device, header, size, &Device::Unprepare);
}

MMRESULT waveOutUnprepareHeader(HWAVEOUT device, WAVEHDR* header, UINT size)
{
    return rz::wave::OnHeader(Direction::Playback, device, header, size, &Device::Unprepare);
}

MMRESULT waveInAddBuffer(HWAVEIN device, WAVEHDR* header, UINT size)
{
    return rz::wave::OnHeader(Direction::Capture, device, header, size, &Device::Queue);
}

MMRESULT waveOutWrite(HWAVEOUT device, WAVEHDR* header, UINT size)
{
    return rz::wave::OnHeader(Direction::Playback, device, header, size, &Device::Queue);
}

MMRESULT waveInGetPosition(HWAVEIN device, MMTIME* time, UINT size)
{
    return rz::wave::GetPosition(Direction::Capture, device, time, size);
}

MMRESULT waveOutGetPosition(HWAVEOUT device, MMTIME* time, UINT size)
{
    return rz::wave::GetPosition(Direction::Playback, device, time, size);
}

MMRESULT waveInStart(HWAVEIN device)
{
    return rz::wave::OnDevice(Direction::Capture, device, [](Device& d) { return d.SetRunning(true); });
}

MMRESULT waveInStop(HWAVEIN device)
{
    return rz::wave::OnDevice(Direction::Capture, device, [](Device& d) { return d.SetRunning(false); });
}

MMRESULT waveOutRestart(HWAVEOUT device)
{
    return rz::wave::OnDevice(Direction::Playback, device, [](Device& d) { return d.SetRunning(true); });
}

MMRESULT waveOutPause(HWAVEOUT device)
{
    return rz::wave::OnDevice(Direction::Playback, device, [](Device& d) { return d.SetRunning(false); });
}

MMRESULT waveInReset(HWAVEIN device)
{
    return rz::wave::OnDevice(Direction::Capture, device, [](Device& d) { return d.Reset(); });
}

MMRESULT waveOutReset(HWAVEOUT device)
{
    return rz::wave::OnDevice(Direction::Playback, device, [](Device& d) { return d.Reset(); });
}

UINT GetWaveDriverName(char* buffer, UINT size)
{
    return rz::wave::GuardedValue(0u, [&] { return TheDriver().DriverName(buffer, size); });
}

MMRESULT GetWaveInDeviceName(UINT deviceId, char* buffer, UINT size)
{
    return rz::wave::Guarded([&] { return TheDriver().DeviceName(Direction::Capture, deviceId, buffer, size); });
}

MMRESULT GetWaveOutDeviceName(UINT deviceId, char* buffer, UINT size)
{
    return rz::wave::Guarded([&] { return TheDriver().DeviceName(Direction::Playback, deviceId, buffer, size); });
}

BOOL GetWaveFailure(char* buffer, UINT size)
{
    return rz::wave::GuardedValue(BOOL{FALSE}, [&] { return TheDriver().TakeFailure(buffer, size); });
}

BOOL IsWaveDeviceLost(void)
{
    return rz::wave::GuardedValue(BOOL{FALSE}, [] { return TheDriver().AnyLost(); });
}

BOOL GetOpenWaveInPosition(DWORD* samples) { return rz::wave::GetOpenPosition(Direction::Capture, samples); }

BOOL GetOpenWaveOutPosition(DWORD* samples) { return rz::wave::GetOpenPosition(Direction::Playback, samples); }

BOOL GetOpenWaveOutPending(DWORD* frames) { return rz::wave::GetOpenPending(frames); }
