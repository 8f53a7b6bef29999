// Conversions between the current locale's multibyte text and UTF-16 units, as
// mbstowcs and wcstombs make them where wchar_t is 16 bits wide.
//
// Each conversion stops at the source's terminator, which it copies when there is
// room for it; when the next whole character would not fit, it stops without a
// terminator (the caller's buffer then holds exactly what fitted); at a character
// the locale cannot convert, it stops and terminates when there is room. No part
// of a character is ever written, and nothing is read past the given limits.
#pragma once

#include <cstddef>
#include <string>

// Converts zero-terminated `source` into at most `capacity` units of `target`.
// Returns the number of units written before any terminator.
size_t MultibyteToUtf16(const char* source, char16_t* target, size_t capacity);

// Converts `source`, up to its terminator but never more than `sourceUnits` units,
// into at most `capacity` bytes of `target`. Returns the bytes written before any
// terminator.
size_t Utf16ToMultibyte(const char16_t* source, size_t sourceUnits, char* target, size_t capacity);

// The same conversion into a string, for text that is only written out.
std::string Utf16ToMultibyte(const char16_t* source, size_t sourceUnits);
