// RUZada.so as dgterm uses it: found, loaded with dlopen, its exports resolved.
#pragma once

#include <string>

#include <RUZada.h>

// The exports dgterm calls.
#define DGTERM_MODULE_EXPORTS(X) \
    X(InitDG)                    \
    X(EnumRUZadas)               \
    X(SetRUZada)                 \
    X(GetRUZada)                 \
    X(InvokeDGCommand)           \
    X(InvokeRUZadaFunc)          \
    X(GetRUZadaNameA)            \
    X(GetRUZadaFileNameA)        \
    X(SendDGCharW)               \
    X(IsDGSendIdle)              \
    X(SetDGFreq)                 \
    X(SetDGSoundMode)            \
    X(GetDGLevel)                \
    X(SetDGSquelch)              \
    X(GetDGSquelch)              \
    X(GetDGFFTData)

namespace rz::dgterm {

class Module {
public:
    // Loads `path`, or the RUZada.so beside this program when it is empty. A
    // missing export fails the load, naming it.
    explicit Module(const std::string& path);
    // Unloading runs the module's detach: its threads end and its ports close.
    ~Module();
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    bool Loaded() const { return m_handle != nullptr; }
    const std::string& Path() const { return m_path; }
    const std::string& Error() const { return m_error; }

#define DGTERM_DECLARE_EXPORT(name) decltype(&::name) name = nullptr;
    DGTERM_MODULE_EXPORTS(DGTERM_DECLARE_EXPORT)
#undef DGTERM_DECLARE_EXPORT

private:
    void* m_handle = nullptr;
    std::string m_path;
    std::string m_error;
};

}  // namespace rz::dgterm
