#include "Module.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>

namespace rz::dgterm {
namespace {

std::string BesideThisProgram(const char* file)
{
    char self[PATH_MAX] = {};
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string dir = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string(".");
    dir.erase(dir.find_last_of('/') + 1);
    return dir + file;
}

template <class Fn>
void Resolve(void* handle, Fn& entry, const char* name, std::string& error)
{
    entry = reinterpret_cast<Fn>(dlsym(handle, name));
    if (!entry && error.empty())
        error = std::string("missing export ") + name;
}

}  // namespace

Module::Module(const std::string& path) : m_path(path.empty() ? BesideThisProgram("RUZada.so") : path)
{
    m_handle = dlopen(m_path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m_handle) {
        m_error = dlerror();
        return;
    }
#define DGTERM_RESOLVE_EXPORT(name) Resolve(m_handle, name, #name, m_error);
    DGTERM_MODULE_EXPORTS(DGTERM_RESOLVE_EXPORT)
#undef DGTERM_RESOLVE_EXPORT
    if (!m_error.empty()) {
        dlclose(m_handle);
        m_handle = nullptr;
    }
}

Module::~Module()
{
    if (m_handle)
        dlclose(m_handle);
}

}  // namespace rz::dgterm
