// Text as dgterm shows it.
#pragma once

#include <cstdint>
#include <string>

// Appends the UTF-8 text of a character as the module reports it in "DG_CHAR"
// and "DG_SENTCHAR": a UTF-16 unit, or a byte sign-extended.
void AppendUtf8(uint32_t ch, std::string& text);

// A system or message-box text on one line: line ends become spaces, and
// trailing blanks go.
std::string OneLine(std::string text);
