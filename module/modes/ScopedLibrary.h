// A snap-in library loaded for one job (a discovery look, one invoke call) and
// freed when the job ends, however it ends.
#pragma once

#include <ruzada/kernel.h>

class ScopedLibrary {
public:
    // Loads `path`; on failure the thread's last error says why.
    explicit ScopedLibrary(const char* path) : m_handle(LoadLibraryA(path)) {}
    ~ScopedLibrary()
    {
        if (m_handle)
            FreeLibrary(m_handle);
    }
    ScopedLibrary(const ScopedLibrary&) = delete;
    ScopedLibrary& operator=(const ScopedLibrary&) = delete;

    bool Loaded() const { return m_handle != nullptr; }
    // The library's function `name`, or null; call only on a loaded library.
    template <class Fn>
    Fn Find(const char* name) const
    {
        return reinterpret_cast<Fn>(GetProcAddress(m_handle, name));
    }

private:
    HMODULE m_handle;
};
