#include "hostlink/queue.h"

#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>

#include "hostlink/windows.h"
#include "ruzada/kernel.h"

namespace rz::hostlink {

namespace {

bool Matches(const MSG& message, HWND filter, UINT first, UINT last)
{
    if (filter && message.hwnd != filter)
        return false;
    if (message.message == WM_QUIT || (first == 0 && last == 0))
        return true;
    return message.message >= first && message.message <= last;
}

}  // namespace

Queue::~Queue()
{
    if (m_fd >= 0)
        close(m_fd);
}

PostResult Queue::Post(const MSG& message, bool counted)
{
    std::lock_guard hold(m_lock);
    if (!m_open)
        return PostResult::QueueGone;
    if (counted && m_posted.size() >= RZ_POSTED_MESSAGE_LIMIT)
        return PostResult::QueueFull;
    m_posted.push_back(message);
    SyncFdLocked();
    m_wake.notify_one();
    return PostResult::Queued;
}

bool Queue::Deliver(std::shared_ptr<SentMessage> message)
{
    std::lock_guard hold(m_lock);
    if (!m_open)
        return false;
    m_sent.push_back(std::move(message));
    SyncFdLocked();
    m_wake.notify_one();
    return true;
}

std::shared_ptr<SentMessage> Queue::TakeSent()
{
    std::lock_guard hold(m_lock);
    if (m_sent.empty())
        return nullptr;
    std::shared_ptr<SentMessage> message = std::move(m_sent.front());
    m_sent.pop_front();
    SyncFdLocked();
    return message;
}

bool Queue::TakePosted(MSG* message, HWND filter, UINT first, UINT last, bool remove)
{
    std::lock_guard hold(m_lock);
    auto found = std::find_if(m_posted.begin(), m_posted.end(),
                              [&](const MSG& posted) { return Matches(posted, filter, first, last); });
    if (found == m_posted.end())
        return false;
    *message = *found;
    if (remove) {
        m_posted.erase(found);
        SyncFdLocked();
    }
    return true;
}

void Queue::DropPostedFor(HWND window)
{
    std::lock_guard hold(m_lock);
    std::erase_if(m_posted, [&](const MSG& posted) { return posted.hwnd == window; });
    SyncFdLocked();
}

void Queue::Answer(SentMessage& message, LRESULT result)
{
    std::lock_guard hold(m_lock);
    message.result = result;
    message.answered = true;
    m_wake.notify_one();
}

void Queue::WaitForPosted(HWND filter, UINT first, UINT last)
{
    std::unique_lock hold(m_lock);
    m_wake.wait(hold, [&] { return !m_sent.empty() || HasPostedLocked(filter, first, last); });
}

bool Queue::WaitForAnswer(const SentMessage& message, LRESULT* result)
{
    std::unique_lock hold(m_lock);
    m_wake.wait(hold, [&] { return message.answered || !m_sent.empty(); });
    if (!message.answered)
        return false;
    *result = message.result;
    return true;
}

int Queue::Fd()
{
    std::lock_guard hold(m_lock);
    if (m_fd < 0 && m_open) {
        m_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (m_fd < 0) {
            SetLastError(errno == ENOMEM ? ERROR_NOT_ENOUGH_MEMORY : ERROR_TOO_MANY_OPEN_FILES);
            return -1;
        }
        m_fdReadable = false;
        SyncFdLocked();
    }
    return m_fd;
}

std::deque<std::shared_ptr<SentMessage>> Queue::Close()
{
    std::lock_guard hold(m_lock);
    m_open = false;
    m_posted.clear();
    if (m_fd >= 0) {
        close(m_fd);
        m_fd = -1;
    }
    return std::exchange(m_sent, {});
}

bool Queue::HasPostedLocked(HWND filter, UINT first, UINT last) const
{
    return std::any_of(m_posted.begin(), m_posted.end(),
                       [&](const MSG& posted) { return Matches(posted, filter, first, last); });
}

void Queue::SyncFdLocked()
{
    const bool waiting = !m_posted.empty() || !m_sent.empty();
    if (m_fd < 0 || waiting == m_fdReadable)
        return;
    uint64_t count = 1;
    const ssize_t done = waiting ? write(m_fd, &count, sizeof count) : read(m_fd, &count, sizeof count);
    if (done == sizeof count)
        m_fdReadable = waiting;
}

namespace {

thread_local Queue* t_queue = nullptr;
thread_local bool t_ending = false;

// The thread that owned `owned` is ending: its windows go, its posts are dropped
// and whoever waits on a send to it gets 0.
void EndThreadQueue(void* owned)
{
    const std::unique_ptr<std::shared_ptr<Queue>> queue(static_cast<std::shared_ptr<Queue>*>(owned));
    t_ending = true;
    t_queue = nullptr;
    ForgetWindowsOf(**queue);
    for (const std::shared_ptr<SentMessage>& orphan : (*queue)->Close())
        orphan->sender->Answer(*orphan, 0);
}

// A thread's queue is ended through a key rather than by a thread_local object:
// registering such an object's destructor takes the dynamic loader's lock, which
// dlclose holds while a library unloads, so a thread's first message would wait
// for any unload going on, and never reach the unloading thread's wait.
pthread_key_t QueueKey()
{
    static const pthread_key_t key = [] {
        pthread_key_t made{};
        if (pthread_key_create(&made, &EndThreadQueue) != 0)
            throw std::bad_alloc();
        return made;
    }();
    return key;
}

}  // namespace

Queue* ThreadQueue()
{
    if (t_ending)
        return nullptr;
    if (!t_queue) {
        auto owned = std::make_unique<std::shared_ptr<Queue>>(std::make_shared<Queue>());
        if (pthread_setspecific(QueueKey(), owned.get()) != 0)
            throw std::bad_alloc();
        t_queue = owned.release()->get();
    }
    return t_queue;
}

Queue* ExistingThreadQueue() { return t_queue; }

}  // namespace rz::hostlink
