#include "HostHarness.h"

#include <dlfcn.h>

#include <filesystem>

namespace fs = std::filesystem;

namespace rz::test::harness {

ModuleDir::ModuleDir() { fs::copy_file(RUZADA_MODULE_PATH, ModulePath()); }

void ModuleDir::AddTestSnapin(const std::string& fileName, const std::string& as)
{
    fs::copy_file(fs::path(RUZADA_TEST_SNAPIN_DIR) / fileName, TempDir::Path(as.empty() ? fileName : as));
}

LoadedModule::LoadedModule(const std::string& path) { m_handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL); }

void LoadedModule::Unload()
{
    if (m_handle)
        dlclose(m_handle);
    m_handle = nullptr;
}

void* LoadedModule::Symbol(const char* name) const { return m_handle ? dlsym(m_handle, name) : nullptr; }

}  // namespace rz::test::harness
