// The system's 8-bit text is Windows-1251 (std::string of CP1251 bytes, counted,
// any byte allowed). These conversions are for the edges: literals written in
// UTF-8 source files, and the controls' UTF-16 text in framework/gui.
//
// The conversion to and from UTF-16 is the platform's (AnsiPosix.cpp: tables
// built once from iconv's CP1251 converter; AnsiWindows.cpp: the system's code
// page 1251). Every conversion is safe on any thread.
#pragma once

#include <string>
#include <string_view>

// CP1251 bytes to UTF-16. Every byte has a character: 0x98, which CP1251 leaves
// unassigned, becomes U+0098, so no byte is lost.
std::u16string AnsiToUtf16(std::string_view ansi);

// UTF-16 to CP1251 bytes. A character with no CP1251 code becomes "?".
std::string Utf16ToAnsi(std::u16string_view text);

// UTF-8 to CP1251 and back; for literals in source files and for tests.
std::string Ansi(std::string_view utf8);
std::string AnsiToUtf8(std::string_view ansi);
