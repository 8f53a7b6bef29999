#include "hostlink/windows.h"

#include <cstdint>
#include <mutex>
#include <unordered_map>

#include "ruzada/guarded.h"
#include "ruzada/kernel.h"

namespace rz::hostlink {

namespace {

// Lock order: the table before any queue.
struct WindowTable {
    std::mutex lock;
    std::unordered_map<uintptr_t, Window> windows;
    uintptr_t lastId = 0;
};

// Never destroyed: threads may still post while the process exits.
WindowTable& Table()
{
    static WindowTable* table = new WindowTable;
    return *table;
}

uintptr_t IdOf(HWND window) { return reinterpret_cast<uintptr_t>(window); }

}  // namespace

std::optional<Window> LookUpWindow(HWND window)
{
    WindowTable& table = Table();
    std::lock_guard hold(table.lock);
    auto found = table.windows.find(IdOf(window));
    if (found == table.windows.end())
        return std::nullopt;
    return found->second;
}

PostResult PostToWindow(const MSG& message)
{
    WindowTable& table = Table();
    std::lock_guard hold(table.lock);
    auto found = table.windows.find(IdOf(message.hwnd));
    if (found == table.windows.end())
        return PostResult::QueueGone;
    return found->second.owner->Post(message, true);
}

void ForgetWindowsOf(const Queue& owner)
{
    WindowTable& table = Table();
    std::lock_guard hold(table.lock);
    std::erase_if(table.windows, [&](const auto& entry) { return entry.second.owner.get() == &owner; });
}

}  // namespace rz::hostlink

using namespace rz::hostlink;
using rz::Guarded;

HWND CreateHostWindow(WNDPROC procedure, void* user)
{
    if (!procedure) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return Guarded(HWND{}, [&]() -> HWND {
        Queue* owner = ThreadQueue();
        if (!owner) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        WindowTable& table = Table();
        std::lock_guard hold(table.lock);
        const uintptr_t id = ++table.lastId;
        table.windows.emplace(id, Window{procedure, user, owner->shared_from_this()});
        return reinterpret_cast<HWND>(id);
    });
}

BOOL DestroyHostWindow(HWND window)
{
    WindowTable& table = Table();
    std::lock_guard hold(table.lock);
    auto found = table.windows.find(IdOf(window));
    if (found == table.windows.end()) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (found->second.owner.get() != ExistingThreadQueue()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    std::shared_ptr<Queue> owner = std::move(found->second.owner);
    table.windows.erase(found);
    owner->DropPostedFor(window);
    return TRUE;
}

void* GetHostWindowUser(HWND window)
{
    return Guarded(static_cast<void*>(nullptr), [&]() -> void* {
        std::optional<Window> found = LookUpWindow(window);
        if (!found) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return nullptr;
        }
        return found->user;
    });
}

BOOL IsWindow(HWND window) { return LookUpWindow(window) ? TRUE : FALSE; }
