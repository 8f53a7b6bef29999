// Threads: detached pthreads started through a trampoline of this library, so
// that a thread's last instructions, after its routine has returned, are the
// platform's and the routine's library may already be gone.
//
// Cancellation (TerminateThread) is enabled only while the routine runs: the
// start-up wait and the bookkeeping at the end are never unwound. A call out of
// the routine that was given up (AbandonOutCall) comes back to the thread's start
// by a jump, past the routine's frames, and the thread ends as if terminated.
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <optional>

#include "core/attachgate.h"
#include "core/cancellation.h"
#include "core/eventfd.h"
#include "core/handles.h"
#include "core/outcall.h"
#include "ruzada/outcall.h"

namespace rz::kernel {
namespace {

std::atomic<DWORD> g_lastThreadId{0};
thread_local DWORD t_threadId = 0;

DWORD NewThreadId()
{
    DWORD id;
    do
        id = ++g_lastThreadId;
    while (id == 0);
    return id;
}

class Thread final : public KernelObject {
public:
    Thread(LPTHREAD_START_ROUTINE routine, void* parameter, bool suspended)
        : m_routine(routine), m_parameter(parameter), m_id(NewThreadId()), m_suspendCount(suspended ? 1 : 0)
    {}

    bool Valid() const { return m_ended.Valid() && m_termination.Valid(); }
    DWORD Id() const { return m_id; }
    int PollFd() const override { return m_ended.Fd(); }
    // Taken under the lock that Finish writes under, so that what the thread did
    // before it ended is seen by the waiter (a poll alone orders nothing).
    bool ConsumeSignal() override
    {
        std::lock_guard hold(m_lock);
        return m_finished;
    }

    // Starts the native thread, which keeps `self` alive until it has finished.
    // Answers the pthread error, 0 on success.
    static int Start(const std::shared_ptr<Thread>& self, size_t stackSize)
    {
        pthread_attr_t attributes;
        pthread_attr_init(&attributes);
        pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
        if (stackSize)
            pthread_attr_setstacksize(&attributes, RoundedStackSize(stackSize));
        auto* owner = new (std::nothrow) std::shared_ptr<Thread>(self);
        int error = owner ? 0 : ENOMEM;
        if (owner) {
            // Held across creation, so that the new thread and Terminate find
            // m_native set.
            std::lock_guard hold(self->m_lock);
            error = pthread_create(&self->m_native, &attributes, &Trampoline, owner);
            self->m_started = error == 0;
        }
        pthread_attr_destroy(&attributes);
        if (error)
            delete owner;
        return error;
    }

    // Attach-gate hold: taken before the gate is asked, so that a gate opening in
    // between cannot release a hold not yet taken.
    void HoldForAttach()
    {
        std::lock_guard hold(m_lock);
        m_heldForAttach = true;
    }

    void ReleaseAttachHold()
    {
        {
            std::lock_guard hold(m_lock);
            m_heldForAttach = false;
        }
        m_released.notify_all();
    }

    DWORD Resume()
    {
        DWORD previous;
        {
            std::lock_guard hold(m_lock);
            previous = m_suspendCount;
            if (m_suspendCount > 0)
                --m_suspendCount;
        }
        m_released.notify_all();
        return previous;
    }

    void Terminate(DWORD exitCode)
    {
        {
            std::lock_guard hold(m_lock);
            if (m_finished || m_terminating)
                return;
            m_terminating = true;
            m_terminateCode = exitCode;
            // A started thread is alive until it has set m_finished under this
            // lock, so m_native still names it. The cancellation reaches waits
            // outside the platform; the platform's own watch the signal.
            if (m_started)
                pthread_cancel(m_native);
            m_termination.Set();
        }
        m_released.notify_all();
    }

    DWORD ExitCode()
    {
        std::lock_guard hold(m_lock);
        return m_finished ? m_exitCode : STILL_ACTIVE;
    }

    bool AbandonOutCall() { return m_outCall.Abandon(); }

private:
    static size_t RoundedStackSize(size_t requested)
    {
        const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        const size_t minimum = PTHREAD_STACK_MIN;
        const size_t size = requested < minimum ? minimum : requested;
        return (size + page - 1) / page * page;
    }

    static void* Trampoline(void* argument)
    {
        pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, nullptr);
        std::shared_ptr<Thread> self;
        {
            std::unique_ptr<std::shared_ptr<Thread>> owner(static_cast<std::shared_ptr<Thread>*>(argument));
            self = std::move(*owner);
        }
        self->Run();
        return nullptr;
    }

    // Marks the end however the routine left: by returning, or unwound by
    // cancellation, or never started.
    class FinishOnExit {
    public:
        explicit FinishOnExit(Thread& thread) : m_thread(thread) {}
        ~FinishOnExit() { m_thread.Finish(m_returned); }
        void Returned(DWORD code) { m_returned = code; }

    private:
        Thread& m_thread;
        std::optional<DWORD> m_returned;
    };

    void Run()
    {
        t_threadId = m_id;
        BindTerminationSignal(m_termination.Fd());
        FinishOnExit finish(*this);
        if (!WaitForStart())
            return;
        BindOutCallSlot(&m_outCall);
        if (sigsetjmp(m_outCall.Exit(), 0) != 0)
            return;
        pthread_setcancelstate(PTHREAD_CANCEL_ENABLE, nullptr);
        const DWORD code = m_routine(m_parameter);
        pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, nullptr);
        finish.Returned(code);
    }

    // False when the thread was terminated before it could start.
    bool WaitForStart()
    {
        std::unique_lock hold(m_lock);
        m_released.wait(hold, [this] { return m_terminating || (m_suspendCount == 0 && !m_heldForAttach); });
        return !m_terminating;
    }

    void Finish(std::optional<DWORD> returned)
    {
        // Thread-exit handlers that wait must not watch a descriptor about to close.
        BindTerminationSignal(-1);
        BindOutCallSlot(nullptr);
        {
            std::lock_guard hold(m_lock);
            m_finished = true;
            m_exitCode = returned ? *returned : m_terminateCode;
        }
        m_ended.Set();
    }

    const LPTHREAD_START_ROUTINE m_routine;
    void* const m_parameter;
    const DWORD m_id;
    EventFd m_ended{false};
    EventFd m_termination{false};
    OutCallSlot m_outCall;

    std::mutex m_lock;
    std::condition_variable m_released;
    pthread_t m_native{};
    bool m_started = false;
    DWORD m_suspendCount;
    bool m_heldForAttach = false;
    bool m_terminating = false;
    bool m_finished = false;
    DWORD m_terminateCode = 0;
    DWORD m_exitCode = STILL_ACTIVE;
};

std::shared_ptr<Thread> NewThread(LPTHREAD_START_ROUTINE routine, void* parameter, bool suspended)
{
    try {
        auto thread = std::make_shared<Thread>(routine, parameter, suspended);
        if (thread->Valid())
            return thread;
        SetLastError(ErrnoToWinError(errno));
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
    return nullptr;
}

void HoldAtAttachGate(const std::shared_ptr<Thread>& thread)
{
    thread->HoldForAttach();
    std::weak_ptr<Thread> weak = thread;
    bool held = false;
    try {
        held = HoldUntilAttachEnds([weak] {
            if (const auto alive = weak.lock())
                alive->ReleaseAttachHold();
        });
    } catch (const std::bad_alloc&) {
        // Without room to note the hold, the thread starts as if the gate were open.
    }
    if (!held)
        thread->ReleaseAttachHold();
}

}  // namespace
}  // namespace rz::kernel

using namespace rz::kernel;

HANDLE CreateThread(void*, size_t stackSize, LPTHREAD_START_ROUTINE routine, void* parameter, DWORD flags,
                    DWORD* threadId)
{
    if (!routine) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const std::shared_ptr<Thread> thread = NewThread(routine, parameter, (flags & CREATE_SUSPENDED) != 0);
    if (!thread)
        return nullptr;
    const HANDLE handle = RegisterHandle(thread);
    if (!handle)
        return nullptr;
    HoldAtAttachGate(thread);
    if (const int error = Thread::Start(thread, stackSize)) {
        UnregisterHandle(handle);
        SetLastError(error == EAGAIN ? ERROR_NOT_ENOUGH_MEMORY : ErrnoToWinError(error));
        return nullptr;
    }
    if (threadId)
        *threadId = thread->Id();
    return handle;
}

DWORD ResumeThread(HANDLE handle)
{
    const std::shared_ptr<Thread> thread = LookupHandleAs<Thread>(handle);
    return thread ? thread->Resume() : 0xFFFFFFFFu;
}

BOOL TerminateThread(HANDLE handle, DWORD exitCode)
{
    const std::shared_ptr<Thread> thread = LookupHandleAs<Thread>(handle);
    if (!thread)
        return FALSE;
    thread->Terminate(exitCode);
    return TRUE;
}

BOOL AbandonOutCall(HANDLE handle)
{
    const std::shared_ptr<Thread> thread = LookupHandleAs<Thread>(handle);
    return thread && thread->AbandonOutCall() ? TRUE : FALSE;
}

BOOL GetExitCodeThread(HANDLE handle, DWORD* exitCode)
{
    if (!exitCode) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::shared_ptr<Thread> thread = LookupHandleAs<Thread>(handle);
    if (!thread)
        return FALSE;
    *exitCode = thread->ExitCode();
    return TRUE;
}

DWORD GetCurrentThreadId(void)
{
    if (t_threadId == 0)
        t_threadId = NewThreadId();
    return t_threadId;
}
