#include "FuzzSupport.h"

#include <dlfcn.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

// The fuzzers share one ASan runtime with the libraries they load. clang links
// libFuzzer's C++ library ahead of it, which ASan would refuse at start; the
// runtime still comes before the C library, which is what interception needs.
extern "C" const char* __asan_default_options() { return "verify_asan_link_order=0"; }

namespace rz::fuzz {

void Fail(const std::string& why)
{
    std::fprintf(stderr, "fuzz target setup: %s\n", why.c_str());
    std::exit(2);
}

std::filesystem::path ExecutableDir() { return std::filesystem::read_symlink("/proc/self/exe").parent_path(); }

void UseScratchSettings(const std::string& text)
{
    // Removed when the fuzzer exits.
    static const struct ScratchDir {
        std::string path;
        ScratchDir()
        {
            char name[] = "/tmp/ruzada-fuzz-XXXXXX";
            if (!mkdtemp(name))
                Fail("no scratch folder");
            path = name;
        }
        ~ScratchDir() { std::filesystem::remove_all(path); }
    } dir;
    const std::string path = dir.path + "/RUZada.ini";
    std::ofstream(path) << text;
    setenv("RUZADA_INI", path.c_str(), 1);
}

void* RequireSymbol(void* library, const char* name)
{
    void* symbol = dlsym(library, name);
    if (!symbol)
        Fail(std::string("no ") + name);
    return symbol;
}

void* LoadForGood(const std::filesystem::path& path)
{
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!library)
        Fail(dlerror());
    return library;
}

void KeepSnapinsLoaded(const std::filesystem::path& dir)
{
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with("DG") && name.ends_with(".so"))
            LoadForGood(entry.path());
    }
}

}  // namespace rz::fuzz
