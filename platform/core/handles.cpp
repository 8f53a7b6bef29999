#include "core/handles.h"

#include <cstdint>
#include <mutex>
#include <new>
#include <unordered_map>
#include <utility>

namespace rz::kernel {
namespace {

class HandleTable {
public:
    HANDLE Add(std::shared_ptr<KernelObject> object)
    {
        std::lock_guard hold(m_lock);
        // Numbers are never reused, so a stale handle cannot reach a newer object;
        // the low bits stay clear, so no handle is ever INVALID_HANDLE_VALUE.
        const uintptr_t number = ++m_lastNumber << 2;
        m_objects.emplace(number, std::move(object));
        return reinterpret_cast<HANDLE>(number);
    }

    std::shared_ptr<KernelObject> Find(HANDLE handle)
    {
        std::lock_guard hold(m_lock);
        const auto entry = m_objects.find(reinterpret_cast<uintptr_t>(handle));
        return entry == m_objects.end() ? nullptr : entry->second;
    }

    std::shared_ptr<KernelObject> Remove(HANDLE handle)
    {
        std::lock_guard hold(m_lock);
        const auto entry = m_objects.find(reinterpret_cast<uintptr_t>(handle));
        if (entry == m_objects.end())
            return nullptr;
        std::shared_ptr<KernelObject> object = std::move(entry->second);
        m_objects.erase(entry);
        return object;
    }

private:
    std::mutex m_lock;
    uintptr_t m_lastNumber = 0;
    std::unordered_map<uintptr_t, std::shared_ptr<KernelObject>> m_objects;
};

// Never destroyed: threads still running at exit may close or wait on handles.
HandleTable& Table()
{
    static HandleTable& table = *new HandleTable;
    return table;
}

}  // namespace

HANDLE RegisterHandle(std::shared_ptr<KernelObject> object)
{
    try {
        return Table().Add(std::move(object));
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE handle)
{
    std::shared_ptr<KernelObject> object = Table().Find(handle);
    if (!object)
        SetLastError(ERROR_INVALID_HANDLE);
    return object;
}

std::shared_ptr<KernelObject> UnregisterHandle(HANDLE handle)
{
    std::shared_ptr<KernelObject> object = Table().Remove(handle);
    if (!object)
        SetLastError(ERROR_INVALID_HANDLE);
    return object;
}

}  // namespace rz::kernel

BOOL CloseHandle(HANDLE object) { return rz::kernel::UnregisterHandle(object) ? TRUE : FALSE; }
