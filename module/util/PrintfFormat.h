// printf-style formatting in the dialect the module's text is written in, the
// Windows runtime's, on top of the C library's formatter.
//
// The dialect:
// - flags "-", "+", "0", " ", "#"; width and precision as decimal digits or "*"
//   (taken from the arguments; a negative width means "-", a negative precision
//   none);
// - size prefixes: "I64" for 64-bit integers, and the C library's "ll", "j", "z",
//   "t" the same; "l" a long integer or wide text, "h" a short integer or narrow
//   text, "hh" a char-sized integer; "F", "N" and "L" are ignored (as on Windows,
//   long double is double, so "%Lf" takes a double);
// - conversions "d" "i" "u" "o" "x" "X", "e" "E" "f" "g" "G" (double), "c" and "s"
//   (narrow; wide after "l"), "C" and "S" (wide; narrow after "h"), "p", "n"
//   (takes its pointer and stores nothing, as the Windows runtime does by
//   default), "%%";
// - wide text is the C library's wchar_t, converted in the current locale;
// - any other conversion letter produces nothing and takes no argument.
//
// Neither function consumes `arguments`: each works on its own copy.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

// An upper bound for the formatted length (0 for a null format), from one walk of
// the format: text
// counts its bytes; "%%" 1; "#" adds 2; c and C 2; s and S the string's length (6
// for a null pointer), at least 1, cut to the precision, raised to the width;
// integers the larger of 32 and width + precision + 1; e, E, g, G the larger of 128
// and width + precision + 8; f the length of the value printed at the width with
// the precision + 6, and a sign that "+" or " " forces; p the larger of 32 and
// width + precision; n nothing. Wide text that the locale spells in several bytes
// per character can exceed it. Every field's width and precision count in full,
// so the estimate tells a caller in time that a format asks for more than it
// will hold.
int64_t EstimatePrintfLength(const char* format, va_list arguments);

// Formats into `out` as vsnprintf does: at most size - 1 characters and a
// terminator (nothing with size 0, when `out` may be null). As there, a wide field
// is written out in full, however long. Returns the length of
// the whole text, or -1 for a null format and when the C library cannot format a
// conversion (wide text the locale cannot spell, a width beyond its range).
int64_t FormatPrintf(char* out, size_t size, const char* format, va_list arguments);
