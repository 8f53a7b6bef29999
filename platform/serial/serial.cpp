// The communications calls of ruzada/serial.h: argument checks, COM number to
// device, backend choice, and the handles of open ports.
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <new>
#include <string>

#include "core/handles.h"
#include "serial/CommPort.h"

namespace rz::serial {
namespace {

// Tried in order; the last one takes every name.
const SerialBackend* const kBackends[] = {&g_VirtualBackend, &g_TermiosBackend};

const SerialBackend& BackendFor(const std::string& device)
{
    for (const SerialBackend* backend : kBackends)
        if (device.compare(0, std::strlen(backend->prefix), backend->prefix) == 0)
            return *backend;
    return *kBackends[std::size(kBackends) - 1];
}

constexpr char kComPrefix[] = "\\\\.\\COM";
constexpr long kHighestComNumber = 1'000'000;

// "\\.\COMn" to n, or 0 for any other name.
long ComNumber(const char* name)
{
    if (!name || std::strncmp(name, kComPrefix, sizeof kComPrefix - 1) != 0)
        return 0;
    const char* digits = name + sizeof kComPrefix - 1;
    long number = 0;
    for (const char* c = digits; *c; ++c) {
        if (*c < '0' || *c > '9' || number > kHighestComNumber)
            return 0;
        number = number * 10 + (*c - '0');
    }
    return number;
}

std::string DeviceFor(long number)
{
    const std::string variable = "RUZADA_COM" + std::to_string(number);
    if (const char* device = std::getenv(variable.c_str()))
        return device;
    return "/dev/ttyS" + std::to_string(number - 1);
}

BOOL Answer(DWORD error)
{
    SetLastError(error);
    return error == ERROR_SUCCESS ? TRUE : FALSE;
}

// The table's entry for an open port. Closing the handle drops it, which shuts
// the port: calls still under way in other threads hold the port itself, and
// their waits end.
class PortHandle final : public KernelObject {
public:
    explicit PortHandle(std::shared_ptr<CommPort> port) : m_port(std::move(port)) {}
    ~PortHandle() override { m_port->Shut(); }
    const std::shared_ptr<CommPort>& Port() const { return m_port; }

private:
    std::shared_ptr<CommPort> m_port;
};

std::shared_ptr<CommPort> FindPort(HANDLE handle)
{
    const std::shared_ptr<PortHandle> entry = rz::kernel::LookupHandleAs<PortHandle>(handle);
    return entry ? entry->Port() : nullptr;
}

// The waitable object `stop` names, kept alive while a call waits on it; false
// for a handle that names nothing.
bool FindStop(HANDLE stop, std::shared_ptr<KernelObject>& object)
{
    object = stop ? rz::kernel::LookupHandle(stop) : nullptr;
    return !stop || object;
}

// Runs `call` on the port behind `handle`, answering as the Windows call does.
template <class Call>
BOOL OnPort(HANDLE handle, Call&& call)
{
    const std::shared_ptr<CommPort> port = FindPort(handle);
    if (!port)
        return Answer(ERROR_INVALID_HANDLE);
    try {
        return Answer(call(*port));
    } catch (const std::bad_alloc&) {
        return Answer(ERROR_NOT_ENOUGH_MEMORY);
    }
}

}  // namespace
}  // namespace rz::serial

using rz::serial::CommPort;
using rz::serial::OnPort;

HANDLE CreateFileA(const char* name, DWORD, DWORD share, void*, DWORD creation, DWORD, HANDLE)
{
    const long number = rz::serial::ComNumber(name);
    if (number < 1) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (share != 0 || creation != OPEN_EXISTING) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    try {
        const std::string device = rz::serial::DeviceFor(number);
        DWORD error = ERROR_SUCCESS;
        std::unique_ptr<rz::serial::SerialLine> line = rz::serial::BackendFor(device).open(device, error);
        if (!line) {
            SetLastError(error);
            return INVALID_HANDLE_VALUE;
        }
        auto entry = std::make_shared<rz::serial::PortHandle>(std::make_shared<CommPort>(std::move(line)));
        HANDLE handle = rz::kernel::RegisterHandle(std::move(entry));
        if (!handle)
            return INVALID_HANDLE_VALUE;
        SetLastError(ERROR_SUCCESS);
        return handle;
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
}

BOOL GetCommState(HANDLE port, DCB* dcb)
{
    if (!dcb)
        return rz::serial::Answer(ERROR_INVALID_PARAMETER);
    return OnPort(port, [&](CommPort& p) { return p.GetState(*dcb); });
}

BOOL SetCommState(HANDLE port, const DCB* dcb)
{
    if (!dcb)
        return rz::serial::Answer(ERROR_INVALID_PARAMETER);
    return OnPort(port, [&](CommPort& p) { return p.SetState(*dcb); });
}

BOOL EscapeCommFunction(HANDLE port, DWORD function)
{
    return OnPort(port, [&](CommPort& p) { return p.Escape(function); });
}

BOOL SetCommBreak(HANDLE port)
{
    return OnPort(port, [](CommPort& p) { return p.SetBreak(true); });
}

BOOL ClearCommBreak(HANDLE port)
{
    return OnPort(port, [](CommPort& p) { return p.SetBreak(false); });
}

BOOL PurgeComm(HANDLE port, DWORD flags)
{
    return OnPort(port, [&](CommPort& p) { return p.Purge(flags); });
}

BOOL ClearCommError(HANDLE port, DWORD* errors, COMSTAT* status)
{
    return OnPort(port, [&](CommPort& p) { return p.ClearError(errors, status); });
}

BOOL SetCommMask(HANDLE port, DWORD mask)
{
    return OnPort(port, [&](CommPort& p) { return p.SetMask(mask); });
}

DWORD WaitCommEvents(HANDLE port, HANDLE stop, DWORD milliseconds, DWORD* events)
{
    std::shared_ptr<rz::serial::KernelObject> stopObject;
    const std::shared_ptr<CommPort> commPort = events ? rz::serial::FindPort(port) : nullptr;
    if (!events || !commPort || !rz::serial::FindStop(stop, stopObject)) {
        SetLastError(events ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    DWORD error = ERROR_SUCCESS;
    DWORD result = WAIT_FAILED;
    try {
        result = commPort->WaitEvents(stopObject.get(), milliseconds, *events, error);
    } catch (const std::bad_alloc&) {
        error = ERROR_NOT_ENOUGH_MEMORY;
    }
    if (result == WAIT_FAILED)
        SetLastError(error);
    return result;
}

BOOL ReadComm(HANDLE port, void* buffer, DWORD size, DWORD* read)
{
    if (!read || (!buffer && size > 0))
        return rz::serial::Answer(ERROR_INVALID_PARAMETER);
    return OnPort(port, [&](CommPort& p) { return p.Read(static_cast<uint8_t*>(buffer), size, *read); });
}

BOOL WriteComm(HANDLE port, const void* data, DWORD size, DWORD* written, HANDLE stop)
{
    std::shared_ptr<rz::serial::KernelObject> stopObject;
    if (!written || (!data && size > 0))
        return rz::serial::Answer(ERROR_INVALID_PARAMETER);
    *written = 0;
    if (!rz::serial::FindStop(stop, stopObject))
        return rz::serial::Answer(ERROR_INVALID_HANDLE);
    return OnPort(port, [&](CommPort& p) {
        return p.Write(static_cast<const uint8_t*>(data), size, *written, stopObject.get());
    });
}
