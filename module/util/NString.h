// The module's narrow string. It owns a heap buffer of characters and, on request,
// a mirror: a std::string that code written for the framework's string works on.
// The string and its mirror may both be changed by their users; each read of the
// string first takes over a mirror that differs from it, and each change of the
// string is copied to the mirror.
//
// The buffer is one heap block: length, capacity and reference count (32-bit
// each), then capacity + 1 bytes of characters. A buffer for n characters has
// capacity (n & ~15) + 16; an empty string has capacity 16. Buffers are never
// shared: assignment copies the characters.
//
// One object is used by one thread at a time. Allocation failures throw
// std::bad_alloc.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>

#include <ruzada/kernel.h>

#include "base/Export.h"

class RUZADA_CLASS CNString {
public:
    CNString();
    CNString(const CNString& other);
    virtual ~CNString();

    // Takes the other string's up-to-date text (its mirror's, when that differs).
    CNString& operator=(const CNString& other);
    // A null pointer gives an empty string.
    CNString& operator=(const char* text);

    // The up-to-date text; valid until the string next changes.
    operator const char*();
    // The mirror, attached first if there is none, holding the up-to-date text.
    // The caller may change it; the string takes the change over at its next read.
    operator std::string&();
    // A new std::string holding the up-to-date text.
    operator std::string() const;

    // True while a mirror is attached.
    bool __CStringPtr() const;
    // The mirror's characters; null without a mirror.
    const char* __CStringStr() const;
    // Assigns to the mirror (a null pointer empties it); nothing without a mirror.
    void __CStringSet(const char* text);
    // Replaces any mirror by a new empty one.
    void __CStringAlloc();
    // Destroys the mirror.
    void __CStringCleanup();

    // With a value that is not zero and fits in 16 bits (a string-table
    // identifier, not a pointer), loads that entry with LoadText(id) and returns
    // true whatever the load gives; otherwise false, and nothing changes.
    virtual bool LoadIfTextId(const void* value);
    // printf-style formatting in the dialect of util/PrintfFormat.h. The buffer is
    // made at least as large as EstimatePrintfLength (and as the exact length, should
    // wide text exceed the estimate). A null format, or one the C library cannot
    // format, gives an empty string.
    virtual void FormatList(const char* format, va_list arguments);
    // FormatList; the thread's last-error value is the same after the call as before.
    virtual void Format(const char* format, ...);
    // Formats with entry `id` of the module's string table (g_ExtModule.hResource)
    // as its format; last error preserved. A missing entry gives an empty string.
    virtual void FormatId(unsigned id, ...);
    // Loads entry `id` of `module`'s string table, of any length; a missing entry
    // gives an empty string. Returns 1 if the text is not empty, else 0.
    virtual int LoadText(HMODULE module, unsigned id);
    // LoadText with the module's current resource handle (g_ExtModule.hResource).
    virtual int LoadText(unsigned id);

    int GetLength() const;
    int GetCapacity() const;

private:
    struct Buffer;

    static Buffer* MakeBuffer(int64_t length);
    static void FreeBuffer(Buffer* buffer);

    // Takes over the mirror's text if it differs (not while busy).
    void UpdateFromMirror();
    // Every change of the characters ends here: stores `length` characters of
    // `text`, in a buffer with room for `reserve`; an empty string when `reserve`
    // is below 1.
    void Store(const char* text, int32_t length, int32_t reserve);
    void SetChars(const char* text, int32_t length);
    // Makes the buffer hold `length` characters, keeping the current ones.
    void MakeWritable(int32_t length);
    void MakeEmpty();
    // Records the length and terminator and copies the text to the mirror.
    void Finish(int32_t length);
    // The text a read would give, without taking the mirror over.
    const char* CurrentText() const;

    char* m_pszText;
    Buffer* m_pBuffer;
    uint8_t m_bBusy;
    std::string* m_pMirror;
};
