#include "Text.h"

namespace rz::dgterm {

void AppendUtf8(uint32_t ch, std::string& text)
{
    // A byte from a narrow decoder arrives sign-extended; its code page is
    // Windows-1252, whose printable half above 0x9F is Latin-1.
    uint32_t code = ch >= 0xFFFFFF80u ? (ch & 0xFFu) : ch;
    if (code > 0xFFFF || (code >= 0xD800 && code <= 0xDFFF) || (code >= 0x80 && code <= 0x9F))
        code = '?';
    if (code < 0x80) {
        text += static_cast<char>(code);
    } else if (code < 0x800) {
        text += static_cast<char>(0xC0 | code >> 6);
        text += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        text += static_cast<char>(0xE0 | code >> 12);
        text += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        text += static_cast<char>(0x80 | (code & 0x3F));
    }
}

std::u16string ToUtf16(const std::string& text)
{
    std::u16string units;
    for (size_t at = 0; at < text.size();) {
        const auto lead = static_cast<unsigned char>(text[at]);
        const int length = lead < 0x80           ? 1
                           : (lead >> 5) == 0x6  ? 2
                           : (lead >> 4) == 0xE  ? 3
                           : (lead >> 3) == 0x1E ? 4
                                                 : 0;
        uint32_t code = length == 1 ? lead : length == 2 ? lead & 0x1Fu : length == 3 ? lead & 0x0Fu : lead & 0x07u;
        bool whole = length > 0 && at + length <= text.size();
        for (int i = 1; whole && i < length; ++i) {
            const auto next = static_cast<unsigned char>(text[at + i]);
            whole = (next & 0xC0) == 0x80;
            code = code << 6 | (next & 0x3Fu);
        }
        if (!whole) {
            units += u'?';
            ++at;
            continue;
        }
        if (code > 0xFFFF) {
            code -= 0x10000;
            units += static_cast<char16_t>(0xD800 + (code >> 10));
            units += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
        } else {
            units += static_cast<char16_t>(code);
        }
        at += static_cast<size_t>(length);
    }
    return units;
}

std::string ToUtf8(const std::u16string& units)
{
    std::string text;
    for (char16_t unit : units)
        AppendUtf8(unit, text);
    return text;
}

std::string OneLine(std::string text)
{
    for (char& c : text)
        if (c == '\r' || c == '\n')
            c = ' ';
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

}  // namespace rz::dgterm
