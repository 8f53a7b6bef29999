// File search: a directory listing taken at FindFirstFileA, filtered by a
// Windows wildcard pattern, sorted, and handed out one name at a time.
#include <dirent.h>
#include <limits.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "core/handles.h"

namespace rz::kernel {
namespace {

// Every file name fits cFileName with its terminator, so none is ever skipped.
static_assert(NAME_MAX < MAX_PATH);

// '*' matches any run of characters, '?' any one; nothing else is special.
bool WildcardMatch(std::string_view pattern, std::string_view name)
{
    size_t p = 0;
    size_t n = 0;
    size_t starAt = std::string_view::npos;
    size_t resumeAt = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starAt = p++;
            resumeAt = n;
        } else if (starAt != std::string_view::npos) {
            p = starAt + 1;
            n = ++resumeAt;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

bool IsRegularFile(const std::string& path)
{
    struct stat status;
    return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

class FileSearch final : public KernelObject {
public:
    explicit FileSearch(std::vector<std::string> names) : m_names(std::move(names)) {}

    // False after the last name.
    bool Next(WIN32_FIND_DATAA& data)
    {
        std::lock_guard hold(m_lock);
        if (m_next == m_names.size())
            return false;
        const std::string& name = m_names[m_next++];
        data.dwFileAttributes = FILE_ATTRIBUTE_NORMAL;
        std::memcpy(data.cFileName, name.c_str(), name.size() + 1);
        return true;
    }

private:
    std::mutex m_lock;
    std::vector<std::string> m_names;
    size_t m_next = 0;
};

// The matching names, sorted; false (with the last error set) when the directory
// cannot be read.
bool ListMatches(std::string_view pattern, std::vector<std::string>& names)
{
    const size_t slash = pattern.rfind('/');
    const std::string directory = slash == std::string_view::npos ? "."
                                  : slash == 0                    ? "/"
                                                                  : std::string(pattern.substr(0, slash));
    const std::string_view filePattern = slash == std::string_view::npos ? pattern : pattern.substr(slash + 1);
    const std::unique_ptr<DIR, int (*)(DIR*)> listing(opendir(directory.c_str()), &closedir);
    if (!listing) {
        SetLastError(errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND : ErrnoToWinError(errno));
        return false;
    }
    while (const dirent* entry = readdir(listing.get())) {
        if (WildcardMatch(filePattern, entry->d_name) && IsRegularFile(directory + '/' + entry->d_name))
            names.emplace_back(entry->d_name);
    }
    // Bytes compare as unsigned, as NTFS orders names.
    std::sort(names.begin(), names.end());
    return true;
}

HANDLE StartSearch(const char* pattern, WIN32_FIND_DATAA& data)
{
    std::vector<std::string> names;
    if (!ListMatches(pattern, names))
        return INVALID_HANDLE_VALUE;
    auto search = std::make_shared<FileSearch>(std::move(names));
    if (!search->Next(data)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    const HANDLE handle = RegisterHandle(std::move(search));
    return handle ? handle : INVALID_HANDLE_VALUE;
}

}  // namespace
}  // namespace rz::kernel

using namespace rz::kernel;

HANDLE FindFirstFileA(const char* pattern, WIN32_FIND_DATAA* data)
{
    if (!pattern || !*pattern || !data) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    try {
        return StartSearch(pattern, *data);
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
}

BOOL FindNextFileA(HANDLE handle, WIN32_FIND_DATAA* data)
{
    if (!data) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::shared_ptr<FileSearch> search = LookupHandleAs<FileSearch>(handle);
    if (!search)
        return FALSE;
    if (!search->Next(*data)) {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    return TRUE;
}

BOOL FindClose(HANDLE handle) { return LookupHandleAs<FileSearch>(handle) && UnregisterHandle(handle) ? TRUE : FALSE; }
