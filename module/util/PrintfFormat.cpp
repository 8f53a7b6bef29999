#include "util/PrintfFormat.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string_view>

namespace {

enum class Kind { Percent, Character, Text, Signed, Unsigned, Scientific, Fixed, Pointer, Count, Unknown };

enum class IntegerSize { Char, Short, Int, Long, Bits64 };

Kind KindOf(char letter)
{
    switch (letter) {
        case '%':
            return Kind::Percent;
        case 'c':
        case 'C':
            return Kind::Character;
        case 's':
        case 'S':
            return Kind::Text;
        case 'd':
        case 'i':
            return Kind::Signed;
        case 'u':
        case 'o':
        case 'x':
        case 'X':
            return Kind::Unsigned;
        case 'e':
        case 'E':
        case 'g':
        case 'G':
            return Kind::Scientific;
        case 'f':
            return Kind::Fixed;
        case 'p':
            return Kind::Pointer;
        case 'n':
            return Kind::Count;
        default:
            return Kind::Unknown;
    }
}

struct Conversion {
    char flags[6] = {};  // each of "-+0 #" at most once
    int width = 0;
    int precision = -1;  // -1: none given
    IntegerSize size = IntegerSize::Int;
    int textWidth = 0;  // -1 narrow ("h"), 1 wide ("l"), 0 as the letter says
    char letter = 0;
    Kind kind = Kind::Unknown;

    bool Has(char flag) const { return std::strchr(flags, flag) != nullptr; }
    void Add(char flag)
    {
        if (!Has(flag))
            flags[std::strlen(flags)] = flag;
    }
    bool Wide() const { return textWidth > 0 || (textWidth == 0 && (letter == 'C' || letter == 'S')); }
};

// The argument of one conversion, fetched with the type the conversion names.
struct Argument {
    long long integer = 0;
    unsigned long long natural = 0;
    double real = 0;
    const void* pointer = nullptr;
};

struct Piece {
    std::string_view text;  // literal text, when `isConversion` is false
    bool isConversion = false;
    Conversion conversion;
    Argument argument;
};

// Reads a format piece by piece, taking each conversion's arguments from the list,
// so that the estimate and the formatting agree on every argument.
class FormatWalk {
public:
    FormatWalk(const char* format, va_list& arguments) : m_cursor(format), m_arguments(arguments) {}

    // False at the end of the format, or at a conversion cut off by it.
    bool Next(Piece& piece)
    {
        if (*m_cursor == '\0')
            return false;
        if (*m_cursor != '%') {
            const size_t length = std::strcspn(m_cursor, "%");
            piece.isConversion = false;
            piece.text = std::string_view(m_cursor, length);
            m_cursor += length;
            return true;
        }
        ++m_cursor;
        piece.isConversion = true;
        piece.conversion = ReadConversion();
        if (piece.conversion.letter == '\0')
            return false;
        piece.argument = TakeArgument(piece.conversion);
        return true;
    }

private:
    // Digits, saturating: a width beyond the C library's range fails there.
    int ReadNumber()
    {
        long long value = 0;
        for (; *m_cursor >= '0' && *m_cursor <= '9'; ++m_cursor)
            value = std::min<long long>(value * 10 + (*m_cursor - '0'), INT_MAX);
        return static_cast<int>(value);
    }

    Conversion ReadConversion()
    {
        Conversion conversion;
        for (; *m_cursor != '\0' && std::strchr("-+0 #", *m_cursor); ++m_cursor)
            conversion.Add(*m_cursor);

        if (*m_cursor == '*') {
            ++m_cursor;
            const int width = va_arg(m_arguments, int);
            if (width < 0)
                conversion.Add('-');
            conversion.width = width == INT_MIN ? INT_MAX : std::abs(width);
        } else {
            conversion.width = ReadNumber();
        }

        if (*m_cursor == '.') {
            ++m_cursor;
            if (*m_cursor == '*') {
                ++m_cursor;
                conversion.precision = std::max(va_arg(m_arguments, int), -1);
            } else {
                conversion.precision = ReadNumber();
            }
        }

        ReadSizePrefixes(conversion);
        conversion.letter = *m_cursor;
        if (*m_cursor != '\0')
            ++m_cursor;
        conversion.kind = KindOf(conversion.letter);
        return conversion;
    }

    void ReadSizePrefixes(Conversion& conversion)
    {
        for (;; ++m_cursor) {
            switch (*m_cursor) {
                case 'h':
                    conversion.size = conversion.size == IntegerSize::Short ? IntegerSize::Char : IntegerSize::Short;
                    conversion.textWidth = -1;
                    continue;
                case 'l':
                    conversion.size = conversion.size == IntegerSize::Long ? IntegerSize::Bits64 : IntegerSize::Long;
                    conversion.textWidth = 1;
                    continue;
                case 'j':
                case 'z':
                case 't':
                    conversion.size = IntegerSize::Bits64;
                    continue;
                case 'F':
                case 'N':
                case 'L':
                    continue;
                case 'I':
                    if (m_cursor[1] == '6' && m_cursor[2] == '4') {
                        conversion.size = IntegerSize::Bits64;
                        m_cursor += 2;
                        continue;
                    }
                    return;
                default:
                    return;
            }
        }
    }

    Argument TakeArgument(const Conversion& conversion)
    {
        Argument argument;
        switch (conversion.kind) {
            case Kind::Character:
                argument.integer = conversion.Wide() ? va_arg(m_arguments, wint_t) : va_arg(m_arguments, int);
                break;
            case Kind::Text:
            case Kind::Pointer:
            case Kind::Count:
                argument.pointer = va_arg(m_arguments, const void*);
                break;
            case Kind::Signed:
                argument.integer = TakeSigned(conversion.size);
                break;
            case Kind::Unsigned:
                argument.natural = TakeUnsigned(conversion.size);
                break;
            case Kind::Scientific:
            case Kind::Fixed:
                argument.real = va_arg(m_arguments, double);
                break;
            case Kind::Percent:
            case Kind::Unknown:
                break;
        }
        return argument;
    }

    long long TakeSigned(IntegerSize size)
    {
        switch (size) {
            case IntegerSize::Char:
                return static_cast<signed char>(va_arg(m_arguments, int));
            case IntegerSize::Short:
                return static_cast<short>(va_arg(m_arguments, int));
            case IntegerSize::Int:
                return va_arg(m_arguments, int);
            case IntegerSize::Long:
                return va_arg(m_arguments, long);
            case IntegerSize::Bits64:
                return va_arg(m_arguments, long long);
        }
        return 0;
    }

    unsigned long long TakeUnsigned(IntegerSize size)
    {
        switch (size) {
            case IntegerSize::Char:
                return static_cast<unsigned char>(va_arg(m_arguments, unsigned));
            case IntegerSize::Short:
                return static_cast<unsigned short>(va_arg(m_arguments, unsigned));
            case IntegerSize::Int:
                return va_arg(m_arguments, unsigned);
            case IntegerSize::Long:
                return va_arg(m_arguments, unsigned long);
            case IntegerSize::Bits64:
                return va_arg(m_arguments, unsigned long long);
        }
        return 0;
    }

    const char* m_cursor;
    va_list& m_arguments;
};

// Characters and strings: cut to the precision, never below 1, raised to the width.
int64_t TextEstimate(int64_t length, const Conversion& conversion)
{
    if (conversion.precision >= 0 && length > conversion.precision)
        length = conversion.precision;
    return std::max<int64_t>({length, 1, conversion.width});
}

// The value at the precision + 6 (6 when none is given): its integer part, the
// point and the decimals, counted without printing them all.
int64_t FixedEstimate(const Conversion& conversion, double value)
{
    const int64_t integerPart = std::snprintf(nullptr, 0, "%.0f", value);
    const int64_t forcedSign = conversion.Has('+') || conversion.Has(' ') ? 1 : 0;
    const int64_t digits = integerPart + forcedSign + 1 + std::max(conversion.precision, 0) + 6;
    return std::max<int64_t>(digits, conversion.width);
}

int64_t Estimate(const Piece& piece)
{
    if (!piece.isConversion)
        return static_cast<int64_t>(piece.text.size());
    const Conversion& conversion = piece.conversion;
    const Argument& argument = piece.argument;
    const int64_t widthAndPrecision = int64_t{conversion.width} + std::max(conversion.precision, 0);
    int64_t estimate = 0;
    switch (conversion.kind) {
        case Kind::Percent:
            return 1;
        case Kind::Unknown:
            return 0;
        case Kind::Character:
            estimate = TextEstimate(2, conversion);
            break;
        case Kind::Text: {
            int64_t length = 6;
            if (argument.pointer)
                length =
                    static_cast<int64_t>(conversion.Wide() ? std::wcslen(static_cast<const wchar_t*>(argument.pointer))
                                                           : std::strlen(static_cast<const char*>(argument.pointer)));
            estimate = TextEstimate(length, conversion);
            break;
        }
        // One more than width and precision: the sign beside a precision's digits.
        case Kind::Signed:
        case Kind::Unsigned:
            estimate = std::max<int64_t>(32, widthAndPrecision + 1);
            break;
        // Sign, leading digit, point and a three-digit exponent beside the precision.
        case Kind::Scientific:
            estimate = std::max<int64_t>(128, widthAndPrecision + 8);
            break;
        case Kind::Fixed:
            estimate = FixedEstimate(conversion, argument.real);
            break;
        case Kind::Pointer:
            estimate = std::max<int64_t>(32, widthAndPrecision);
            break;
        case Kind::Count:
            return 0;
    }
    return estimate + (conversion.Has('#') ? 2 : 0);
}

// One conversion as the C library spells it. Characters, strings and pointers keep
// only "-" and, for strings, the precision: the rest is undefined for them there.
using LibraryFormat = char[48];

const char* SpellForLibrary(LibraryFormat& pattern, const Conversion& conversion, const char* tail, bool numeric)
{
    const char* flags = numeric ? conversion.flags : (conversion.Has('-') ? "-" : "");
    size_t used = static_cast<size_t>(std::snprintf(pattern, sizeof pattern, "%%%s", flags));
    if (conversion.width > 0)
        used += static_cast<size_t>(std::snprintf(pattern + used, sizeof pattern - used, "%d", conversion.width));
    if (conversion.precision >= 0 && (numeric || conversion.kind == Kind::Text))
        used += static_cast<size_t>(std::snprintf(pattern + used, sizeof pattern - used, ".%d", conversion.precision));
    std::snprintf(pattern + used, sizeof pattern - used, "%s", tail);
    return pattern;
}

// Formats one conversion into `out` (room bytes, possibly none) as snprintf does.
int FormatConversion(char* out, size_t room, const Conversion& conversion, const Argument& argument)
{
    const bool wide = conversion.Wide();
    LibraryFormat pattern;
    switch (conversion.kind) {
        case Kind::Character:
            if (wide)
                return std::snprintf(out, room, SpellForLibrary(pattern, conversion, "lc", false),
                                     static_cast<wint_t>(argument.integer));
            return std::snprintf(out, room, SpellForLibrary(pattern, conversion, "c", false),
                                 static_cast<int>(argument.integer));
        case Kind::Text:
            if (wide)
                return std::snprintf(out, room, SpellForLibrary(pattern, conversion, "ls", false),
                                     static_cast<const wchar_t*>(argument.pointer));
            return std::snprintf(out, room, SpellForLibrary(pattern, conversion, "s", false),
                                 static_cast<const char*>(argument.pointer));
        case Kind::Signed:
            return std::snprintf(out, room, SpellForLibrary(pattern, conversion, "lld", true), argument.integer);
        case Kind::Unsigned: {
            const char tail[] = {'l', 'l', conversion.letter, '\0'};
            return std::snprintf(out, room, SpellForLibrary(pattern, conversion, tail, true), argument.natural);
        }
        case Kind::Scientific:
        case Kind::Fixed: {
            const char tail[] = {conversion.letter, '\0'};
            return std::snprintf(out, room, SpellForLibrary(pattern, conversion, tail, true), argument.real);
        }
        case Kind::Pointer:
            return std::snprintf(out, room, SpellForLibrary(pattern, conversion, "p", false), argument.pointer);
        case Kind::Percent:
            return std::snprintf(out, room, "%%");
        case Kind::Count:
        case Kind::Unknown:
            break;
    }
    return 0;
}

}  // namespace

int64_t EstimatePrintfLength(const char* format, va_list arguments)
{
    if (!format)
        return 0;
    va_list own;
    va_copy(own, arguments);
    FormatWalk walk(format, own);
    Piece piece;
    int64_t estimate = 0;
    while (walk.Next(piece))
        estimate += Estimate(piece);
    va_end(own);
    return estimate;
}

int64_t FormatPrintf(char* out, size_t size, const char* format, va_list arguments)
{
    if (!format)
        return -1;
    va_list own;
    va_copy(own, arguments);
    FormatWalk walk(format, own);
    Piece piece;
    int64_t length = 0;
    while (walk.Next(piece)) {
        const size_t at = static_cast<size_t>(length);
        const size_t room = at < size ? size - at : 0;
        char* target = room > 0 ? out + at : nullptr;
        if (!piece.isConversion) {
            if (room > 0)
                std::memcpy(target, piece.text.data(), std::min(piece.text.size(), room - 1));
            length += static_cast<int64_t>(piece.text.size());
            continue;
        }
        const int formatted = FormatConversion(target, room, piece.conversion, piece.argument);
        if (formatted < 0) {
            length = -1;
            break;
        }
        length += formatted;
    }
    va_end(own);
    if (length < 0)
        return -1;
    if (size > 0)
        out[std::min(static_cast<size_t>(length), size - 1)] = '\0';
    return length;
}
