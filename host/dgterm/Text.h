// Text as dgterm shows it and hands it to the module.
#pragma once

#include <cstdint>
#include <string>

namespace rz::dgterm {

// Appends the UTF-8 text of a character as the module reports it in "DG_CHAR"
// and "DG_SENTCHAR": a UTF-16 unit, or a byte sign-extended.
void AppendUtf8(uint32_t ch, std::string& text);

// UTF-8 to the UTF-16 units that SendDGCharW takes; a malformed byte becomes '?'.
std::u16string ToUtf16(const std::string& text);
std::string ToUtf8(const std::u16string& units);

// A system or message-box text on one line: line ends become spaces, and
// trailing blanks go.
std::string OneLine(std::string text);

}  // namespace rz::dgterm
