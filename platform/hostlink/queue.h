// One thread's message queue: the messages posted to it, the messages other
// threads sent to it and wait on, and the descriptor that pollers see.
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

#include "ruzada/hostlink.h"

namespace rz::hostlink {

class Queue;

// A message another thread sent and is waiting on.
struct SentMessage {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    std::shared_ptr<Queue> sender;
    // Both guarded by the sender's queue lock, since the sender waits there.
    LRESULT result = 0;
    bool answered = false;
};

enum class PostResult { Queued, QueueGone, QueueFull };

// Any thread may post, deliver and answer; only the owner thread takes messages
// and waits. No lock is held while a caller runs a window procedure.
class Queue : public std::enable_shared_from_this<Queue> {
public:
    Queue() = default;
    ~Queue();
    Queue(const Queue&) = delete;
    Queue& operator=(const Queue&) = delete;

    // `counted` posts are refused beyond RZ_POSTED_MESSAGE_LIMIT.
    PostResult Post(const MSG& message, bool counted);
    // False once the owner thread has ended: nobody will answer.
    bool Deliver(std::shared_ptr<SentMessage> message);
    // The oldest message sent to this thread, or null.
    std::shared_ptr<SentMessage> TakeSent();
    // Copies the oldest matching posted message; removes it when `remove`.
    bool TakePosted(MSG* message, HWND filter, UINT first, UINT last, bool remove);
    void DropPostedFor(HWND window);

    // Called on the sender's queue: wakes the sender with the result.
    void Answer(SentMessage& message, LRESULT result);
    // Waits until a message is sent to this thread or a matching one is posted.
    void WaitForPosted(HWND filter, UINT first, UINT last);
    // Waits until `message` is answered (true, with `result`) or another message
    // is sent to this thread (false).
    bool WaitForAnswer(const SentMessage& message, LRESULT* result);

    // The eventfd, made on first request; -1 with the last error set on failure.
    int Fd();
    // The owner thread is ending: posts are dropped and the descriptor closed.
    // Returns the sends nobody will handle, for the caller to answer with 0.
    std::deque<std::shared_ptr<SentMessage>> Close();

private:
    bool HasPostedLocked(HWND filter, UINT first, UINT last) const;
    // Keeps the descriptor readable exactly while something waits.
    void SyncFdLocked();

    std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<MSG> m_posted;
    std::deque<std::shared_ptr<SentMessage>> m_sent;
    bool m_open = true;
    int m_fd = -1;
    bool m_fdReadable = false;
};

// The calling thread's queue, made on first use; null once the thread is ending.
Queue* ThreadQueue();
// The calling thread's queue if it has one; never makes one.
Queue* ExistingThreadQueue();

}  // namespace rz::hostlink
