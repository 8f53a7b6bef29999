// RUZada.so as dgterm uses it: found, loaded with dlopen, its exports resolved.
#pragma once

#include <string>

#include <RUZada.h>

class Module {
public:
    // Loads `path`, or the RUZada.so beside this program when it is empty.
    explicit Module(const std::string& path);
    ~Module();
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    bool Loaded() const { return m_handle != nullptr; }
    const std::string& Path() const { return m_path; }
    const std::string& Error() const { return m_error; }

    decltype(&::InitDG) InitDG = nullptr;
    decltype(&::DGSetRecv) DGSetRecv = nullptr;
    decltype(&::DGSetXmit) DGSetXmit = nullptr;
    decltype(&::GetDGVersion) GetDGVersion = nullptr;
    decltype(&::GetDGProcessorSpeedKHz) GetDGProcessorSpeedKHz = nullptr;
    decltype(&::EnumRUZadas) EnumRUZadas = nullptr;
    decltype(&::GetRUZadaNameA) GetRUZadaNameA = nullptr;

private:
    void* m_handle = nullptr;
    std::string m_path;
    std::string m_error;
};
