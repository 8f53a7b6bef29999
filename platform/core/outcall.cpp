// Calls out through the platform (ruzada/outcall.h), and giving them up.
#include "ruzada/outcall.h"

#include <pthread.h>

#include <utility>

#include "core/cancellation.h"
#include "core/loader.h"
#include "core/outcall.h"

namespace rz::kernel {
namespace {

thread_local OutCallSlot* t_slot = nullptr;

// Marks the call out for as long as it runs, and ends the thread on its way back
// if the call was given up meanwhile, whether it returns or unwinds.
class OutCall {
public:
    OutCall(OutCallSlot& slot, const void* routine) : m_slot(slot) { m_slot.Begin(routine); }
    ~OutCall() { m_slot.End(); }
    OutCall(const OutCall&) = delete;
    OutCall& operator=(const OutCall&) = delete;

private:
    OutCallSlot& m_slot;
};

template <class... Params, class... Args>
int CallOut(int (*routine)(Params...), Args... args)
{
    if (!routine)
        return 0;
    OutCallSlot* slot = t_slot;
    if (!slot)
        return routine(args...);
    // A thread asked to end does not start what may never come back.
    CancellablePoll(nullptr, 0, 0);
    const OutCall call(*slot, reinterpret_cast<const void*>(routine));
    return routine(args...);
}

}  // namespace

void OutCallSlot::Begin(const void* routine)
{
    std::lock_guard hold(m_lock);
    m_state = State::Out;
    m_routine = routine;
}

void OutCallSlot::End()
{
    HMODULE kept = nullptr;
    {
        std::lock_guard hold(m_lock);
        const bool abandoned = m_state == State::Abandoned;
        m_state = State::Idle;
        if (!abandoned)
            return;
        kept = std::exchange(m_keptLibrary, nullptr);
    }
    // Nothing may unwind from here on: not the library's destructors, which run
    // in FreeLibrary, and not the frames between here and the thread's start,
    // which belong to a caller that gave the thread up and may be gone. They are
    // neither returned to nor unwound.
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, nullptr);
    if (kept)
        FreeLibrary(kept);
    siglongjmp(m_exit, 1);
}

bool OutCallSlot::Abandon()
{
    const void* routine = nullptr;
    {
        std::lock_guard hold(m_lock);
        if (m_state != State::Out)
            return false;
        routine = m_routine;
    }
    // Taken outside the slot's lock: the loader has a lock of its own, which a
    // library being unloaded holds while it gives its threads up.
    const HMODULE kept = AddLoadOfLibraryAt(routine);
    {
        std::lock_guard hold(m_lock);
        if (m_state == State::Out && m_routine == routine) {
            m_state = State::Abandoned;
            m_keptLibrary = kept;
            return true;
        }
    }
    if (kept)
        FreeLibrary(kept);
    return false;
}

void BindOutCallSlot(OutCallSlot* slot) { t_slot = slot; }

}  // namespace rz::kernel

using rz::kernel::CallOut;

int CallOutSamples(int (*routine)(int16_t*, int), int16_t* samples, int count)
{
    return CallOut(routine, samples, count);
}

int CallOutEncodeA(int (*routine)(int16_t*, int, const char*, int), int16_t* samples, int capacity, const char* chars,
                   int count)
{
    return CallOut(routine, samples, capacity, chars, count);
}

int CallOutEncodeW(int (*routine)(int16_t*, int, const char16_t*, int), int16_t* samples, int capacity,
                   const char16_t* chars, int count)
{
    return CallOut(routine, samples, capacity, chars, count);
}

int CallOutDecodeA(int (*routine)(const int16_t*, int, char*, int), const int16_t* samples, int count, char* chars,
                   int capacity)
{
    return CallOut(routine, samples, count, chars, capacity);
}

int CallOutDecodeW(int (*routine)(const int16_t*, int, char16_t*, int), const int16_t* samples, int count,
                   char16_t* chars, int capacity)
{
    return CallOut(routine, samples, count, chars, capacity);
}
