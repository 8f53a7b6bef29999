#include "Text.h"

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

std::string OneLine(std::string text)
{
    for (char& c : text)
        if (c == '\r' || c == '\n')
            c = ' ';
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}
