#include "wave/Device.h"

namespace rz::wave {

void HeaderList::PushBack(WAVEHDR* header)
{
    header->lpNext = nullptr;
    if (m_last)
        m_last->lpNext = header;
    else
        m_first = header;
    m_last = header;
}

WAVEHDR* HeaderList::PopFront()
{
    WAVEHDR* header = m_first;
    if (header) {
        m_first = header->lpNext;
        if (!m_first)
            m_last = nullptr;
        header->lpNext = nullptr;
    }
    return header;
}

namespace {

// Capture with nobody taking the audio drops it in steps this long, so that a
// buffer queued meanwhile starts filling soon.
constexpr uint32_t kDropStepsPerSecond = 50;

size_t DropBytes(const StreamFormat& format)
{
    const size_t frames = format.rate / kDropStepsPerSecond;
    return (frames ? frames : 1) * format.frameBytes;
}

}  // namespace

Device::Device(Direction direction, const StreamFormat& format, WAVECALLBACK callback, DWORD_PTR instance)
    : m_direction(direction),
      m_format(format),
      m_callback(callback),
      m_instance(instance),
      m_dropBytes(DropBytes(format)),
      m_running(direction == Direction::Playback)
{}

Device::~Device()
{
    if (m_thread.joinable()) {
        {
            std::lock_guard lock(m_lock);
            m_closing = true;
        }
        m_alarm.Raise();
        m_thread.join();
    }
}

void Device::Start(void* handle, std::unique_ptr<CaptureStream> stream)
{
    m_captureStream = std::move(stream);
    m_captureZombie = MakeSilentCapture(m_format, m_alarm);
    m_capture = m_captureStream ? m_captureStream.get() : m_captureZombie.get();
    m_lost = !m_captureStream;
    Launch(handle);
}

void Device::Start(void* handle, std::unique_ptr<PlaybackStream> stream)
{
    m_playbackStream = std::move(stream);
    m_playbackZombie = MakeSilentPlayback(m_format, m_alarm);
    m_playback = m_playbackStream ? m_playbackStream.get() : m_playbackZombie.get();
    m_lost = !m_playbackStream;
    Launch(handle);
}

void Device::Launch(void* handle)
{
    m_handle = handle;
    m_thread = std::thread([this] { Run(); });
}

MMRESULT Device::Prepare(WAVEHDR* header)
{
    std::lock_guard lock(m_lock);
    if (m_closing)
        return MMSYSERR_INVALHANDLE;
    header->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT Device::Unprepare(WAVEHDR* header)
{
    std::lock_guard lock(m_lock);
    if (m_closing)
        return MMSYSERR_INVALHANDLE;
    if (header->dwFlags & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    header->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT Device::Queue(WAVEHDR* header)
{
    {
        std::lock_guard lock(m_lock);
        if (m_closing)
            return MMSYSERR_INVALHANDLE;
        if (!(header->dwFlags & WHDR_PREPARED))
            return WAVERR_UNPREPARED;
        if (header->dwFlags & WHDR_INQUEUE)
            return WAVERR_STILLPLAYING;
        header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
        if (m_direction == Direction::Capture)
            header->dwBytesRecorded = 0;
        m_queue.PushBack(header);
    }
    m_alarm.Raise();
    return MMSYSERR_NOERROR;
}

void Device::WaitUntilIdle(std::unique_lock<std::mutex>& lock)
{
    ++m_holds;
    m_alarm.Raise();
    m_idle.wait(lock, [this] { return !m_busy; });
    --m_holds;
}

MMRESULT Device::SetRunning(bool running)
{
    {
        std::unique_lock lock(m_lock);
        if (m_closing)
            return MMSYSERR_INVALHANDLE;
        m_running = running;
        // A stopped capture hands back the buffer it was filling.
        if (!running && m_direction == Direction::Capture) {
            WaitUntilIdle(lock);
            WAVEHDR* head = m_queue.Front();
            if (head && head->dwBytesRecorded > 0)
                Complete(head);
        }
    }
    m_alarm.Raise();
    return MMSYSERR_NOERROR;
}

MMRESULT Device::Reset()
{
    {
        std::unique_lock lock(m_lock);
        if (m_closing)
            return MMSYSERR_INVALHANDLE;
        WaitUntilIdle(lock);
        while (WAVEHDR* head = m_queue.Front())
            Return(head);
        m_framesDone = 0;
    }
    m_alarm.Raise();
    return MMSYSERR_NOERROR;
}

MMRESULT Device::Close()
{
    {
        std::lock_guard lock(m_lock);
        if (m_closing)
            return MMSYSERR_INVALHANDLE;
        if (std::this_thread::get_id() == m_thread.get_id())
            return MMSYSERR_HANDLEBUSY;
        if (!m_queue.Empty())
            return WAVERR_STILLPLAYING;
        m_closing = true;
    }
    m_alarm.Raise();
    m_thread.join();
    m_capture = nullptr;
    m_playback = nullptr;
    m_captureStream.reset();
    m_playbackStream.reset();
    return MMSYSERR_NOERROR;
}

uint64_t Device::FramesPending()
{
    std::lock_guard lock(m_lock);
    size_t bytes = 0;
    for (const WAVEHDR* header = m_queue.Front(); header; header = header->lpNext)
        bytes += Usable(header);
    bytes -= m_queue.Empty() ? 0 : m_headOffset;
    return bytes / m_format.frameBytes + (m_playback ? m_playback->HeldFrames() : 0);
}

size_t Device::Usable(const WAVEHDR* header) const
{
    return header->dwBufferLength / m_format.frameBytes * m_format.frameBytes;
}

size_t Device::Progress(const WAVEHDR* header) const
{
    return m_direction == Direction::Capture ? header->dwBytesRecorded : m_headOffset;
}

void Device::AddProgress(WAVEHDR* header, size_t bytes)
{
    if (m_direction == Direction::Capture)
        header->dwBytesRecorded += static_cast<DWORD>(bytes);
    else
        m_headOffset += bytes;
}

// Takes the queue's head out, done, for its callback.
void Device::Return(WAVEHDR* header)
{
    m_queue.PopFront();
    header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    m_headOffset = 0;
    m_returned.PushBack(header);
}

void Device::Complete(WAVEHDR* header)
{
    m_framesDone += Progress(header) / m_format.frameBytes;
    Return(header);
}

Moved Device::Transfer(WAVEHDR* header, size_t offset, size_t bytes)
{
    if (m_direction == Direction::Playback)
        return m_playback->Write(reinterpret_cast<const uint8_t*>(header->lpData) + offset, bytes);
    if (!header)
        return m_capture->Drop(bytes);
    return m_capture->Read(reinterpret_cast<uint8_t*>(header->lpData) + offset, bytes);
}

void Device::BecomeZombie(const char* reason)
{
    RecordLoss(reason);
    m_lost = true;
    if (m_direction == Direction::Capture)
        m_capture = m_captureZombie.get();
    else
        m_playback = m_playbackZombie.get();
}

void Device::Notify(UINT message, WAVEHDR* header)
{
    if (m_callback)
        m_callback(m_handle, message, m_instance, reinterpret_cast<DWORD_PTR>(header), 0);
}

void Device::Run()
{
    const bool capture = m_direction == Direction::Capture;
    Notify(capture ? WIM_OPEN : WOM_OPEN, nullptr);
    std::unique_lock lock(m_lock);
    for (;;) {
        while (WAVEHDR* header = m_returned.PopFront()) {
            lock.unlock();
            Notify(capture ? WIM_DATA : WOM_DONE, header);
            lock.lock();
        }
        if (m_closing)
            break;
        const bool working = m_running && m_holds == 0;
        WAVEHDR* head = working ? m_queue.Front() : nullptr;
        if (!head && !(working && capture)) {
            lock.unlock();
            m_alarm.SleepUntilRaised();
            lock.lock();
            continue;
        }
        const size_t offset = head ? Progress(head) : 0;
        const size_t wanted = head ? Usable(head) - offset : m_dropBytes;
        if (wanted > 0) {
            m_busy = true;
            lock.unlock();
            const Moved moved = Transfer(head, offset, wanted);
            lock.lock();
            m_busy = false;
            m_idle.notify_all();
            if (moved.failure)
                BecomeZombie(moved.failure);
            if (head)
                AddProgress(head, moved.bytes);
        }
        if (head && Progress(head) == Usable(head))
            Complete(head);
    }
    lock.unlock();
    Notify(capture ? WIM_CLOSE : WOM_CLOSE, nullptr);
}

}  // namespace rz::wave
