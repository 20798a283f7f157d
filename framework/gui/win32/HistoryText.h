// The text of the Win32 port's history (Win32Memo*.cpp): its lines of
// Windows-1251 bytes, the caret and the selection, and the editing operations
// on them. Plain C++ without the system's headers, so that it builds and can
// be tested on any platform.
//
// The text is a list of lines, never empty: an empty history is one empty
// line, and a final line break leaves an empty last line. Read back, the lines
// are joined with CR LF; a lone CR or LF inside a line is one of its bytes.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>
#include <utility>

namespace win32port {

// A place in the text: a line and a byte (one UTF-16 unit on screen) in it.
struct TextPos {
  std::size_t line = 0;
  std::size_t col = 0;
  friend bool operator==(TextPos a, TextPos b) { return a.line == b.line && a.col == b.col; }
  friend bool operator<(TextPos a, TextPos b) {
    return a.line != b.line ? a.line < b.line : a.col < b.col;
  }
};

struct HistoryText {
  std::deque<std::string> lines{std::string()};
  std::size_t length = 0;  // of the text read back, CR LF between lines
  int max_lines = 0;       // 0: no limit
  TextPos caret, anchor;   // the selection runs from anchor to caret
};

TextPos End(const HistoryText& text);
// Where a place is in the text read back, and the place at an offset of it
// (past the end: the end).
std::size_t Offset(const HistoryText& text, TextPos pos);
TextPos PosAt(const HistoryText& text, std::size_t offset);
// Inserts bytes, CR LF breaking lines; returns the place after them.
TextPos Insert(HistoryText& text, TextPos at, std::string_view bytes);
void Erase(HistoryText& text, TextPos from, TextPos to);
// Lets the oldest lines beyond the limit go, a final empty line being no line;
// the caret and the anchor keep their places in the lines that stay (in a line
// that went: the start). Returns how many went.
std::size_t DropOldestLines(HistoryText& text);
std::pair<TextPos, TextPos> Selection(const HistoryText& text);
bool HasSelection(const HistoryText& text);
// Words are separated by spaces and tabs; a word move from a line's edge goes
// to the neighbouring line's.
bool IsWordChar(char c);
TextPos WordLeft(const HistoryText& text, TextPos pos);
TextPos WordRight(const HistoryText& text, TextPos pos);

}  // namespace win32port
