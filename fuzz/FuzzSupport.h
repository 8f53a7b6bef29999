// What the fuzz targets share: finding the build's libraries, a scratch settings
// file, and keeping instrumented snap-ins mapped.
#pragma once

#include <filesystem>
#include <string>

namespace rz::fuzz {

// Ends the process with `why`: a target that cannot set itself up finds nothing.
[[noreturn]] void Fail(const std::string& why);
// The folder of the running fuzzer, where the build puts the libraries too.
std::filesystem::path ExecutableDir();
// Points RUZADA_INI at a new file holding `text`.
void UseScratchSettings(const std::string& text);
// The symbol, or Fail.
void* RequireSymbol(void* library, const char* name);
// Loads every DG*.so in `dir` for good: libFuzzer keeps pointers into each
// instrumented library's counters, so none may be unmapped when the module
// frees a snap-in.
void KeepSnapinsLoaded(const std::filesystem::path& dir);
// Loads one snap-in for good, or Fail.
void* LoadForGood(const std::filesystem::path& path);

}  // namespace rz::fuzz
