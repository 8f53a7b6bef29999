// Snap-in discovery: EnumRUZadas looks at every DG*.so beside the module and keeps
// a record of each one that answers GetDGSetup.
//
// A record keeps its path in MAX_PATH characters, so a folder and file name that
// together do not fit cannot be a snap-in: such a file is skipped like any file
// that does not load, with the system's text for a name that is too long.
#include <strings.h>

#include <cstring>
#include <memory>
#include <new>
#include <string>

#include <RUZada.h>

#include "core/Globals.h"
#include "core/Guard.h"
#include "modes/ModeList.h"
#include "modes/ScopedLibrary.h"
#include "modes/Utf16Text.h"
#include "util/NString.h"
#include "util/SystemErrorText.h"

namespace {

constexpr char kSnapinPattern[] = "/DG*.so";
// The module and its companions share the folder and are never loaded as snap-ins.
constexpr char kModulePrefix[] = "RUZADA";

class FileSearch {
public:
    explicit FileSearch(const std::string& pattern) : m_handle(FindFirstFileA(pattern.c_str(), &m_found)) {}
    ~FileSearch()
    {
        if (Found())
            FindClose(m_handle);
    }
    FileSearch(const FileSearch&) = delete;
    FileSearch& operator=(const FileSearch&) = delete;

    bool Found() const { return m_handle != INVALID_HANDLE_VALUE; }
    const char* Name() const { return m_found.cFileName; }
    bool Next() { return FindNextFileA(m_handle, &m_found); }

private:
    WIN32_FIND_DATAA m_found{};
    HANDLE m_handle;
};

bool IsModuleLibrary(const char* fileName)
{
    return strncasecmp(fileName, kModulePrefix, sizeof kModulePrefix - 1) == 0;
}

void ReportCannotLoad(const std::string& path, DWORD error)
{
    CNString line;
    line.Format("RUZada: Cannot load DLL %s: %s\r\n", path.c_str(), static_cast<const char*>(SystemErrorText(error)));
    OutputDebugStringA(line);
}

void Examine(const std::string& path)
{
    if (path.size() >= MAX_PATH) {
        ReportCannotLoad(path, ERROR_FILENAME_EXCED_RANGE);
        return;
    }
    ScopedLibrary library(path.c_str());
    if (!library.Loaded()) {
        ReportCannotLoad(path, GetLastError());
        return;
    }
    const auto getSetup = library.Find<PFN_GetDGSetup>("GetDGSetup");
    if (!getSetup) {
        CNString line;
        line.Format("RUZada: Detected non-snap-in DLL %s\r\n", path.c_str());
        OutputDebugStringA(line);
        return;
    }
    std::unique_ptr<CModeRecord> record(new (std::nothrow) CModeRecord);
    if (!record)
        return;
    getSetup(&record->m_Setup);
    std::memcpy(record->m_szPath, path.c_str(), path.size() + 1);
    g_ModeList.Append(record.get());
    const CModeRecord& added = *record.release();

    // A name may fill all its units without a terminator.
    const std::string name = Utf16ToMultibyte(added.m_Setup.szName, sizeof(DGSETUP::szName) / sizeof(char16_t));
    CNString line;
    line.Format("RUZada: Detected Soundcard Mode Snap-in %s (%s)\r\n", name.c_str(), added.m_szPath);
    OutputDebugStringA(line);
    g_qwAvailableModes |= added.m_Setup.qwMode;
}

void SearchModuleDir()
{
    FileSearch search(std::string(g_szModuleDir) + kSnapinPattern);
    if (!search.Found())
        return;
    do {
        if (!IsModuleLibrary(search.Name()))
            Examine(std::string(g_szModuleDir) + "/" + search.Name());
    } while (search.Next());
}

}  // namespace

uint64_t EnumRUZadas()
{
    if (g_qwAvailableModes == 0)
        Guarded([] { SearchModuleDir(); });
    return g_qwAvailableModes;
}
