// Libraries: dlopen and friends, with Windows module handles on top.
//
// A module handle is a number from this file's registry, never a dlopen handle,
// so a bad one is recognised. One library has one number, keyed by its link map.
// The registry holds no lock while it calls the dynamic loader: a library's
// constructors, which run inside dlopen, may ask for their own handle.
#include "core/loader.h"

#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <unordered_map>

#include "core/copyout.h"

namespace rz::kernel {
namespace {

// dlerror texts name the file; longer ones are cut.
thread_local char t_failureReason[1024];
thread_local DWORD t_failureCode = ERROR_SUCCESS;

void NoteLoadFailure(DWORD code, const char* reason)
{
    t_failureCode = code;
    std::strncpy(t_failureReason, reason ? reason : "", sizeof t_failureReason - 1);
}

struct Module {
    const link_map* map;
    std::string path;
    unsigned loads;
    void* handle;  // from dlopen; valid while loads > 0
};

std::string CurrentDirectory()
{
    char buffer[PATH_MAX];
    return getcwd(buffer, sizeof buffer) ? buffer : "";
}

std::string ExecutablePath()
{
    char buffer[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer);
    return length > 0 ? std::string(buffer, static_cast<size_t>(length)) : "";
}

// The loader keeps names as they were given; Windows answers full paths.
std::string AbsolutePathOf(const link_map* map)
{
    const std::string name = map->l_name ? map->l_name : "";
    if (name.empty())
        return ExecutablePath();
    if (name.front() == '/')
        return name;
    return CurrentDirectory() + '/' + name;
}

class ModuleRegistry {
public:
    // The module of a library that is loaded now; adds one load when `handle` is
    // the dlopen handle of a new load.
    HMODULE Enter(const link_map* map, void* handle)
    {
        std::string path = AbsolutePathOf(map);
        std::lock_guard hold(m_lock);
        uintptr_t number = 0;
        const auto known = m_byMap.find(map);
        if (known != m_byMap.end() && m_modules.at(known->second).path == path) {
            number = known->second;
        } else {
            // A map address reused by another library: the old entry is stale.
            if (known != m_byMap.end())
                m_modules.erase(known->second);
            // Tagged apart from kernel handles, so that one is never taken for the other.
            number = (++m_lastNumber << 2) | 2;
            m_modules[number] = Module{map, std::move(path), 0, nullptr};
            m_byMap[map] = number;
        }
        Module& module = m_modules.at(number);
        if (handle && module.loads++ == 0)
            module.handle = handle;
        return reinterpret_cast<HMODULE>(number);
    }

    std::optional<Module> Find(HMODULE handle)
    {
        std::lock_guard hold(m_lock);
        const auto found = m_modules.find(reinterpret_cast<uintptr_t>(handle));
        if (found == m_modules.end())
            return std::nullopt;
        return found->second;
    }

    // The dlopen handle to close for one load, null when no load is left.
    void* DropLoad(HMODULE handle)
    {
        std::lock_guard hold(m_lock);
        const auto found = m_modules.find(reinterpret_cast<uintptr_t>(handle));
        if (found == m_modules.end() || found->second.loads == 0)
            return nullptr;
        --found->second.loads;
        return found->second.handle;
    }

private:
    std::mutex m_lock;
    uintptr_t m_lastNumber = 0;
    std::unordered_map<uintptr_t, Module> m_modules;
    std::unordered_map<const link_map*, uintptr_t> m_byMap;
};

// Never destroyed: libraries unload while the process exits.
ModuleRegistry& Registry()
{
    static ModuleRegistry& registry = *new ModuleRegistry;
    return registry;
}

std::optional<Module> FindModule(HMODULE handle)
{
    std::optional<Module> module = Registry().Find(handle);
    if (!module)
        SetLastError(ERROR_INVALID_HANDLE);
    return module;
}

bool FileExists(const char* path)
{
    struct stat status;
    return stat(path, &status) == 0 || (errno != ENOENT && errno != ENOTDIR);
}

const link_map* MapOf(void* handle)
{
    link_map* map = nullptr;
    return dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 ? map : nullptr;
}

const link_map* MapHolding(const void* address)
{
    Dl_info info;
    void* map = nullptr;
    return address && dladdr1(address, &info, &map, RTLD_DL_LINKMAP) ? static_cast<const link_map*>(map) : nullptr;
}

// A library's own export: dlsym also searches the library's dependencies.
void* OwnSymbol(void* handle, const char* name)
{
    void* symbol = dlsym(handle, name);
    return symbol && MapHolding(symbol) == MapOf(handle) ? symbol : nullptr;
}

// Counts the load that `handle`, a new dlopen of `map`, stands for; without the
// memory to note it the load is dropped again.
HMODULE EnterLoad(const link_map* map, void* handle)
{
    try {
        return Registry().Enter(map, handle);
    } catch (const std::bad_alloc&) {
        dlclose(handle);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

}  // namespace

std::string_view LoadFailureReason(DWORD code)
{
    return code == t_failureCode ? std::string_view(t_failureReason) : std::string_view();
}

HMODULE AddLoadOfLibraryAt(const void* address)
{
    const link_map* map = MapHolding(address);
    // The program itself (no name) is never unloaded and needs no load.
    if (!map || !map->l_name || !*map->l_name)
        return nullptr;
    void* handle = dlopen(map->l_name, RTLD_NOW | RTLD_NOLOAD);
    return handle ? EnterLoad(map, handle) : nullptr;
}

}  // namespace rz::kernel

using namespace rz::kernel;

HMODULE LoadLibraryA(const char* path)
{
    NoteLoadFailure(ERROR_SUCCESS, nullptr);
    if (!path) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    void* handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        // A bare name is searched for; failing that search is "not found".
        const DWORD code = std::strchr(path, '/') && FileExists(path) ? ERROR_BAD_EXE_FORMAT : ERROR_MOD_NOT_FOUND;
        NoteLoadFailure(code, dlerror());
        SetLastError(code);
        return nullptr;
    }
    return EnterLoad(MapOf(handle), handle);
}

void* GetProcAddress(HMODULE handle, const char* name)
{
    const std::optional<Module> module = FindModule(handle);
    if (!module)
        return nullptr;
    void* symbol = nullptr;
    if (name && module->loads > 0) {
        symbol = OwnSymbol(module->handle, name);
    } else if (name) {
        // Not loaded through us: reach it only if it is still there.
        void* loaded = dlopen(module->path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
        if (!loaded) {
            SetLastError(ERROR_INVALID_HANDLE);
            return nullptr;
        }
        symbol = OwnSymbol(loaded, name);
        dlclose(loaded);
    }
    if (!symbol)
        SetLastError(ERROR_PROC_NOT_FOUND);
    return symbol;
}

BOOL FreeLibrary(HMODULE handle)
{
    void* loaded = Registry().DropLoad(handle);
    if (!loaded) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    dlclose(loaded);
    return TRUE;
}

HMODULE GetModuleHandleFromAddress(const void* address)
{
    const link_map* map = MapHolding(address);
    if (!map) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    try {
        return Registry().Enter(map, nullptr);
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

DWORD GetModuleFileNameA(HMODULE handle, char* buffer, DWORD size)
{
    const std::optional<Module> module = FindModule(handle);
    return module ? CopyOutText(module->path, buffer, size) : 0;
}
