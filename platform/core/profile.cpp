// Private-profile (INI) values, read as Windows reads them.
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <new>
#include <optional>
#include <string>
#include <string_view>

#include "core/copyout.h"

namespace rz::kernel {
namespace {

constexpr std::string_view kBlanks = " \t\r\n\f\v";
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

std::string_view Trimmed(std::string_view text)
{
    const size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

bool SameIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// Windows drops one pair of matching quotes around a value.
std::string_view Unquoted(std::string_view value)
{
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

const char* NonEmptyVariable(const char* name)
{
    const char* value = std::getenv(name);
    return value && *value ? value : nullptr;
}

std::optional<std::string> ProfilePath(const char* fileName)
{
    if (!fileName || !*fileName)
        return std::nullopt;
    if (std::strchr(fileName, '/'))
        return std::string(fileName);
    if (const char* named = NonEmptyVariable("RUZADA_INI"))
        return std::string(named);
    if (const char* config = NonEmptyVariable("XDG_CONFIG_HOME"))
        return std::string(config) + '/' + fileName;
    if (const char* home = NonEmptyVariable("HOME"))
        return std::string(home) + "/.config/" + fileName;
    return std::nullopt;
}

// The value of the first `key` in the first matching section; nothing when the
// file, the section or the key is missing.
std::optional<std::string> ProfileValue(const std::string& path, std::string_view section, std::string_view key)
{
    std::ifstream file(path, std::ios::binary);
    bool inSection = false;
    std::string line;
    for (bool first = true; std::getline(file, line); first = false) {
        if (first && line.starts_with(kUtf8Mark))
            line.erase(0, kUtf8Mark.size());
        const std::string_view text = Trimmed(line);
        if (text.empty() || text.front() == ';')
            continue;
        if (text.front() == '[') {
            const std::string_view name = text.substr(1, text.find(']') - 1);
            inSection = SameIgnoringCase(Trimmed(name), section);
            continue;
        }
        const size_t equals = text.find('=');
        if (inSection && equals != std::string_view::npos && SameIgnoringCase(Trimmed(text.substr(0, equals)), key))
            return std::string(Unquoted(Trimmed(text.substr(equals + 1))));
    }
    return std::nullopt;
}

int DigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return 99;
}

// An optional sign, then "0x" and hexadecimal digits or decimal digits, up to the
// first other character; overflow wraps, as in Windows.
UINT ProfileInteger(std::string_view text)
{
    size_t at = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (!text.empty() && (text[0] == '-' || text[0] == '+'))
        ++at;
    int base = 10;
    if (text.size() > at + 1 && text[at] == '0' && (text[at + 1] == 'x' || text[at + 1] == 'X')) {
        base = 16;
        at += 2;
    }
    uint32_t value = 0;
    for (; at < text.size() && DigitValue(text[at]) < base; ++at)
        value = value * static_cast<uint32_t>(base) + static_cast<uint32_t>(DigitValue(text[at]));
    return negative ? 0u - value : value;
}

UINT ReadProfileInt(const char* section, const char* key, int defaultValue, const char* fileName)
{
    const UINT fallback = static_cast<UINT>(defaultValue);
    const std::optional<std::string> path = ProfilePath(fileName);
    if (!section || !key || !path)
        return fallback;
    const std::optional<std::string> value = ProfileValue(*path, Trimmed(section), Trimmed(key));
    return value ? ProfileInteger(*value) : fallback;
}

// The text of a key, or `fallback` when the file, the section or the key is missing.
std::string ReadProfileText(const char* section, const char* key, const char* fallback, const char* fileName)
{
    const std::optional<std::string> path = ProfilePath(fileName);
    std::optional<std::string> value;
    if (section && key && path)
        value = ProfileValue(*path, Trimmed(section), Trimmed(key));
    return value ? *value : std::string(Trimmed(fallback ? fallback : ""));
}

}  // namespace
}  // namespace rz::kernel

using namespace rz::kernel;

UINT GetPrivateProfileIntA(const char* section, const char* key, int defaultValue, const char* fileName)
{
    try {
        return ReadProfileInt(section, key, defaultValue, fileName);
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return static_cast<UINT>(defaultValue);
    }
}

DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue, char* buffer, DWORD size,
                               const char* fileName)
{
    try {
        const std::string text = ReadProfileText(section, key, defaultValue, fileName);
        const DWORD copied = CopyOutText(text, buffer, size);
        // Windows answers size - 1 for a value it had to cut.
        return copied == size && size > 0 ? size - 1 : copied;
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
}

DWORD GetPrivateProfilePath(const char* fileName, char* buffer, DWORD size)
{
    try {
        const std::optional<std::string> path = ProfilePath(fileName);
        if (path)
            return CopyOutText(*path, buffer, size);
        SetLastError(ERROR_PATH_NOT_FOUND);
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
    return 0;
}
