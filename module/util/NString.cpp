#include "util/NString.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "base/ExtensionModule.h"
#include "util/PrintfFormat.h"

struct CNString::Buffer {
    int32_t nLength;
    int32_t nCapacity;
    int32_t nRefs;

    char* Chars() { return reinterpret_cast<char*>(this + 1); }
};

namespace {

// The longest text a string holds; far below the 32-bit fields, so that sizes
// computed from it never overflow.
constexpr int64_t kMaxLength = INT32_MAX / 2;
constexpr int kFirstLoadSize = 256;

// Sets the busy flag for a scope and restores what it was.
class BusyScope {
public:
    explicit BusyScope(uint8_t& flag) : m_flag(flag), m_saved(flag) { m_flag = 1; }
    ~BusyScope() { m_flag = m_saved; }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    uint8_t& m_flag;
    uint8_t m_saved;
};

class LastErrorKeeper {
public:
    LastErrorKeeper() : m_error(GetLastError()) {}
    ~LastErrorKeeper() { SetLastError(m_error); }
    LastErrorKeeper(const LastErrorKeeper&) = delete;
    LastErrorKeeper& operator=(const LastErrorKeeper&) = delete;

private:
    DWORD m_error;
};

int32_t LengthOf(const char* text) { return static_cast<int32_t>(std::min<size_t>(std::strlen(text), kMaxLength)); }

}  // namespace

CNString::CNString() : m_pszText(nullptr), m_pBuffer(MakeBuffer(0)), m_bBusy(0), m_pMirror(nullptr)
{
    m_pszText = m_pBuffer->Chars();
}

CNString::CNString(const CNString& other) : CNString() { *this = other; }

CNString::~CNString()
{
    delete m_pMirror;
    FreeBuffer(m_pBuffer);
}

CNString& CNString::operator=(const CNString& other)
{
    if (this != &other) {
        const char* text = other.CurrentText();
        SetChars(text, LengthOf(text));
    }
    return *this;
}

CNString& CNString::operator=(const char* text)
{
    SetChars(text, text ? LengthOf(text) : 0);
    return *this;
}

CNString::operator const char*()
{
    UpdateFromMirror();
    return m_pszText;
}

CNString::operator std::string&()
{
    if (!m_pMirror)
        __CStringAlloc();
    else
        UpdateFromMirror();
    m_pMirror->assign(m_pszText);
    return *m_pMirror;
}

CNString::operator std::string() const { return std::string(CurrentText()); }

bool CNString::__CStringPtr() const { return m_pMirror != nullptr; }

const char* CNString::__CStringStr() const { return m_pMirror ? m_pMirror->c_str() : nullptr; }

void CNString::__CStringSet(const char* text)
{
    if (m_pMirror)
        m_pMirror->assign(text ? text : "");
}

void CNString::__CStringAlloc()
{
    std::string* fresh = new std::string;
    delete m_pMirror;
    m_pMirror = fresh;
}

void CNString::__CStringCleanup()
{
    delete m_pMirror;
    m_pMirror = nullptr;
}

bool CNString::LoadIfTextId(const void* value)
{
    const uintptr_t id = reinterpret_cast<uintptr_t>(value);
    if (id == 0 || id > 0xFFFF)
        return false;
    LoadText(static_cast<unsigned>(id));
    return true;
}

void CNString::FormatList(const char* format, va_list arguments)
{
    // The estimate first: a format asking for more than a string holds is never run.
    const int64_t estimate = EstimatePrintfLength(format, arguments);
    const int64_t length = estimate > kMaxLength ? -1 : FormatPrintf(nullptr, 0, format, arguments);
    const int64_t room = std::max(estimate, length);
    if (length < 0 || room > kMaxLength) {
        SetChars(nullptr, 0);
        return;
    }
    // Formatted apart first: the format and its arguments may be this string's
    // own text, which making the buffer writable can free.
    const std::unique_ptr<char[]> formatted(new char[static_cast<size_t>(room) + 1]);
    FormatPrintf(formatted.get(), static_cast<size_t>(room) + 1, format, arguments);
    Store(formatted.get(), static_cast<int32_t>(length), std::max(static_cast<int32_t>(room), GetLength()));
}

namespace {
// Ends a variable argument list however the formatting leaves.
struct ArgumentsEnd {
    va_list& arguments;
    ~ArgumentsEnd() { va_end(arguments); }
};
}  // namespace

void CNString::Format(const char* format, ...)
{
    const LastErrorKeeper keeper;
    va_list arguments;
    va_start(arguments, format);
    const ArgumentsEnd end{arguments};
    FormatList(format, arguments);
}

void CNString::FormatId(unsigned id, ...)
{
    const LastErrorKeeper keeper;
    CNString format;
    format.LoadText(g_ExtModule.hResource, id);
    va_list arguments;
    va_start(arguments, id);
    const ArgumentsEnd end{arguments};
    FormatList(format, arguments);
}

int CNString::LoadText(HMODULE module, unsigned id)
{
    char scratch[kFirstLoadSize];
    int loaded = LoadStringA(module, id, scratch, kFirstLoadSize);
    if (kFirstLoadSize - loaded > 2) {
        SetChars(scratch, loaded);
        return loaded > 0 ? 1 : 0;
    }
    // The entry may have been cut: load again, larger, straight into the buffer,
    // until a load leaves room to spare.
    const BusyScope busy(m_bBusy);
    for (int size = 2 * kFirstLoadSize;; size += kFirstLoadSize) {
        MakeWritable(size - 1);
        loaded = LoadStringA(module, id, m_pszText, size);
        if (size - loaded >= 3)
            break;
    }
    Finish(LengthOf(m_pszText));
    return loaded > 0 ? 1 : 0;
}

int CNString::LoadText(unsigned id) { return LoadText(g_ExtModule.hResource, id); }

int CNString::GetLength() const { return m_pBuffer->nLength; }

int CNString::GetCapacity() const { return m_pBuffer->nCapacity; }

CNString::Buffer* CNString::MakeBuffer(int64_t length)
{
    if (length > kMaxLength)
        throw std::bad_alloc();
    const int32_t capacity = static_cast<int32_t>((length & ~int64_t{15}) + 16);
    void* block = std::malloc(sizeof(Buffer) + static_cast<size_t>(capacity) + 1);
    if (!block)
        throw std::bad_alloc();
    Buffer* buffer = new (block) Buffer{0, capacity, 1};
    buffer->Chars()[0] = '\0';
    return buffer;
}

void CNString::FreeBuffer(Buffer* buffer)
{
    if (--buffer->nRefs < 1)
        std::free(buffer);
}

void CNString::UpdateFromMirror()
{
    if (!m_pMirror || m_bBusy)
        return;
    const BusyScope busy(m_bBusy);
    const char* mirrored = m_pMirror->c_str();
    if (std::strcmp(mirrored, m_pszText) != 0)
        SetChars(mirrored, LengthOf(mirrored));
}

void CNString::Store(const char* text, int32_t length, int32_t reserve)
{
    const BusyScope busy(m_bBusy);
    if (reserve < 1) {
        MakeEmpty();
    } else {
        MakeWritable(reserve);
        // memmove: the text may be this string's own, which a buffer with room
        // enough keeps in place.
        std::memmove(m_pszText, text, static_cast<size_t>(length));
    }
    Finish(reserve < 1 ? 0 : length);
}

void CNString::SetChars(const char* text, int32_t length) { Store(text, length, length); }

void CNString::MakeWritable(int32_t length)
{
    if (m_pBuffer->nRefs <= 1 && m_pBuffer->nCapacity >= length)
        return;
    Buffer* fresh = MakeBuffer(std::max(length, m_pBuffer->nLength));
    std::memcpy(fresh->Chars(), m_pszText, static_cast<size_t>(m_pBuffer->nLength) + 1);
    fresh->nLength = m_pBuffer->nLength;
    FreeBuffer(m_pBuffer);
    m_pBuffer = fresh;
    m_pszText = fresh->Chars();
}

void CNString::MakeEmpty()
{
    if (m_pBuffer->nRefs <= 1 && m_pBuffer->nCapacity == 16)
        return;
    Buffer* fresh = MakeBuffer(0);
    FreeBuffer(m_pBuffer);
    m_pBuffer = fresh;
    m_pszText = fresh->Chars();
}

void CNString::Finish(int32_t length)
{
    m_pBuffer->nLength = length;
    m_pszText[length] = '\0';
    if (m_pMirror)
        m_pMirror->assign(m_pszText);
}

const char* CNString::CurrentText() const
{
    if (m_pMirror && !m_bBusy)
        return m_pMirror->c_str();
    return m_pszText;
}
