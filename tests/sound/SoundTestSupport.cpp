#include "SoundTestSupport.h"

#include "audio/Sound.h"
#include "audio/SoundControl.h"
#include "core/Globals.h"

namespace rz::test::sound {

WAVEFORMATEX MonoFormat(uint32_t rate) { return {WAVE_FORMAT_PCM, 1, rate, 2 * rate, 2, 16, 0}; }

bool OpenOnLoopback(CSound& sound)
{
    UseDriver("loopback");
    const WAVEFORMATEX format = MonoFormat(8000);
    return sound.OpenIn(&format, WAVE_MAPPER) == 0 && sound.OpenOut(&format, WAVE_MAPPER) == 0;
}

std::vector<int16_t> Ramp(size_t count, int start)
{
    std::vector<int16_t> samples(count);
    for (size_t i = 0; i < count; ++i)
        samples[i] = static_cast<int16_t>(1 + (start - 1 + static_cast<long>(i)) % 32767);
    return samples;
}

void CallbackLog::Record(void* device, UINT message, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR)
{
    MMTIME time = {};
    time.wType = TIME_SAMPLES;
    if (message == WIM_DATA || message == WOM_DONE)
        WaveDevice::Position(message == WIM_DATA, device, &time, sizeof time);
    auto* log = reinterpret_cast<CallbackLog*>(instance);
    std::lock_guard hold(log->m_lock);
    log->m_calls.push_back({message, reinterpret_cast<WAVEHDR*>(param1), std::this_thread::get_id(), time.u.sample});
}

std::vector<CallbackLog::Call> CallbackLog::Calls() const
{
    std::lock_guard hold(m_lock);
    return m_calls;
}

std::vector<CallbackLog::Call> CallbackLog::Calls(UINT message) const
{
    std::vector<Call> found = Calls();
    std::erase_if(found, [&](const Call& call) { return call.message != message; });
    return found;
}

Buffers::Buffers(size_t count, DWORD bytes, char fill) : data(count, std::vector<char>(bytes, fill)), headers(count)
{
    for (size_t i = 0; i < count; ++i) {
        headers[i].lpData = data[i].data();
        headers[i].dwBufferLength = bytes;
    }
}

WaveDevice::WaveDevice(bool capture, const WAVEFORMATEX& format, CallbackLog* log, UINT id) : m_capture(capture)
{
    const auto callback = reinterpret_cast<DWORD_PTR>(&CallbackLog::Record);
    const auto instance = reinterpret_cast<DWORD_PTR>(log);
    const DWORD flags = log ? CALLBACK_FUNCTION : CALLBACK_NULL;
    if (capture)
        m_opened = waveInOpen(reinterpret_cast<HWAVEIN*>(&m_handle), id, &format, callback, instance, flags);
    else
        m_opened = waveOutOpen(reinterpret_cast<HWAVEOUT*>(&m_handle), id, &format, callback, instance, flags);
    EXPECT_EQ(m_opened, MMSYSERR_NOERROR);
}

WaveDevice::~WaveDevice()
{
    if (m_handle) {
        Reset();
        EXPECT_EQ(Close(), MMSYSERR_NOERROR);
    }
}

MMRESULT WaveDevice::Queue(WAVEHDR& header)
{
    if (!m_capture) {
        waveOutPrepareHeader(static_cast<HWAVEOUT>(m_handle), &header, sizeof header);
        return waveOutWrite(static_cast<HWAVEOUT>(m_handle), &header, sizeof header);
    }
    const auto in = static_cast<HWAVEIN>(m_handle);
    waveInPrepareHeader(in, &header, sizeof header);
    const MMRESULT queued = waveInAddBuffer(in, &header, sizeof header);
    return queued ? queued : waveInStart(in);
}

MMRESULT WaveDevice::Position(bool capture, void* handle, MMTIME* time, UINT size)
{
    return capture ? waveInGetPosition(static_cast<HWAVEIN>(handle), time, size)
                   : waveOutGetPosition(static_cast<HWAVEOUT>(handle), time, size);
}

MMRESULT WaveDevice::Reset()
{
    return m_capture ? waveInReset(static_cast<HWAVEIN>(m_handle)) : waveOutReset(static_cast<HWAVEOUT>(m_handle));
}

MMRESULT WaveDevice::Close()
{
    const MMRESULT closed =
        m_capture ? waveInClose(static_cast<HWAVEIN>(m_handle)) : waveOutClose(static_cast<HWAVEOUT>(m_handle));
    if (closed == MMSYSERR_NOERROR)
        m_handle = nullptr;
    return closed;
}

std::vector<uint8_t> Record(const WAVEFORMATEX& format, size_t count, DWORD bytes)
{
    CallbackLog log;
    Buffers buffers(count, bytes, static_cast<char>(0xEE));
    {
        WaveDevice in(true, format, &log, WAVE_MAPPER);
        for (WAVEHDR& header : buffers.headers)
            in.Queue(header);
        EXPECT_TRUE(WaitUntil([&] { return log.Count(WIM_DATA) == count; }));
    }
    std::vector<uint8_t> recorded;
    for (size_t i = 0; i < count; ++i)
        recorded.insert(recorded.end(), buffers.data[i].begin(),
                        buffers.data[i].begin() + buffers.headers[i].dwBytesRecorded);
    return recorded;
}

void ModuleState::SetUp()
{
    InitializeCriticalSection(&g_csSendQueue);
    InitializeCriticalSection(&g_csMode);
    InitializeCriticalSection(&g_csSound);
    g_hXmitEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    g_pSound = new CSound(64, 48);
    g_WaveFormat = {WAVE_FORMAT_PCM, 1, 0, 0, 0, 8, 0};
    g_nSoundDevice = -1;
    g_nOpenSoundDevice = -1;
    g_dwSoundMode = 0;
    g_bUse48KHz = false;
    g_bNoSoundCard = 0;
    g_bNoSoundInput = 0;
    g_bNoSoundOutput = 0;
    g_qwCurrentMode = 0;
}

void ModuleState::TearDown()
{
    if (CSound* sound = g_pSound.exchange(nullptr)) {
        sound->CloseIn();
        sound->CloseOut();
        delete sound;
    }
    CloseHandle(g_hXmitEvent.exchange(nullptr));
    DeleteCriticalSection(&g_csSendQueue);
    DeleteCriticalSection(&g_csMode);
    DeleteCriticalSection(&g_csSound);
}

}  // namespace rz::test::sound
