// A mode snap-in (DG*.so) loaded on its own as the module loads it: its exports
// resolved, its settings file one of the test's own, its narrow decoder fed as
// the module feeds it, and its run-time controls read and written by key.
#pragma once

#include <dlfcn.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <DGSnapin.h>

namespace rz::test::support {

class SnapinLibrary {
public:
    explicit SnapinLibrary(const char* path)
        : m_library(dlopen(path, RTLD_NOW | RTLD_LOCAL)),
          m_settingsPath(std::filesystem::temp_directory_path() / ("snapin-test-" + std::to_string(getpid()) + ".ini"))
    {
        if (const char* settings = getenv("RUZADA_INI"))
            m_settings = settings;
        if (m_library == nullptr)
            return;
        getSetup = Resolve<PFN_GetDGSetup>("GetDGSetup");
        init = Resolve<PFN_InitRUZada>("InitRUZada");
        twiddle = Resolve<PFN_GetDGTwiddle>("GetDGTwiddle");
        hasData = Resolve<PFN_HasDGData>("HasDGData");
        encodeA = Resolve<PFN_EncodeDGDataA>("EncodeDGDataA");
        encodeW = Resolve<PFN_EncodeDGDataW>("EncodeDGDataW");
        decodeA = Resolve<PFN_DecodeDGDataA>("DecodeDGDataA");
        command = Resolve<PFN_DoDGCommand>("DoDGCommand");
        control = Resolve<PFN_InvokeDGFunc>("InvokeDGFunc20");
    }
    ~SnapinLibrary()
    {
        if (m_library != nullptr)
            dlclose(m_library);
        if (m_settings)
            setenv("RUZADA_INI", m_settings->c_str(), 1);
        else
            unsetenv("RUZADA_INI");
        std::error_code ignored;
        std::filesystem::remove(m_settingsPath, ignored);
    }
    SnapinLibrary(const SnapinLibrary&) = delete;
    SnapinLibrary& operator=(const SnapinLibrary&) = delete;

    // True when the library loaded with all the exports below.
    bool Loaded() const
    {
        return getSetup && init && twiddle && hasData && encodeA && encodeW && decodeA && command && control;
    }

    // Points the settings file at one holding `contents`; the mode reads it when selected (`init`).
    void UseSettings(const std::string& contents) const
    {
        std::ofstream(m_settingsPath) << contents;
        setenv("RUZADA_INI", m_settingsPath.c_str(), 1);
    }

    int32_t Read(uint32_t key) const { return static_cast<int32_t>(command(DG_CONTROL_READ | key)); }
    bool Write(uint32_t key, int32_t value) const { return control(nullptr, key, static_cast<uint32_t>(value)) == 1; }

    // Feeds `audio` to the narrow decoder in blocks of `block` samples (the
    // module's 3250 unless told), whole blocks only, and returns the text.
    std::string Decode(const std::vector<int16_t>& audio, int block = 3250) const
    {
        std::string text;
        for (size_t at = 0; at + static_cast<size_t>(block) <= audio.size(); at += static_cast<size_t>(block)) {
            char chars[DG_DECODE_CAPACITY];
            const int n = decodeA(audio.data() + at, block, chars, DG_DECODE_CAPACITY);
            text.append(chars, static_cast<size_t>(std::clamp(n, 0, DG_DECODE_CAPACITY)));
        }
        return text;
    }

    PFN_GetDGSetup getSetup = nullptr;
    PFN_InitRUZada init = nullptr;
    PFN_GetDGTwiddle twiddle = nullptr;
    PFN_HasDGData hasData = nullptr;
    PFN_EncodeDGDataA encodeA = nullptr;
    PFN_EncodeDGDataW encodeW = nullptr;
    PFN_DecodeDGDataA decodeA = nullptr;
    PFN_DoDGCommand command = nullptr;
    PFN_InvokeDGFunc control = nullptr;

private:
    template <typename Function>
    Function Resolve(const char* name) const
    {
        return reinterpret_cast<Function>(dlsym(m_library, name));
    }

    void* m_library;
    std::filesystem::path m_settingsPath;
    std::optional<std::string> m_settings;
};

}  // namespace rz::test::support
