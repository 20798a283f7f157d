#include "framework/gui/win32/HistoryText.h"

#include <algorithm>

namespace win32port {

TextPos End(const HistoryText& text) {
  return TextPos{text.lines.size() - 1, text.lines.back().size()};
}

// Counted from whichever end is nearer.
std::size_t Offset(const HistoryText& text, TextPos pos) {
  const std::size_t count = text.lines.size();
  std::size_t before = 0;
  if (pos.line < count / 2) {
    for (std::size_t line = 0; line < pos.line; ++line) before += text.lines[line].size() + 2;
  } else {
    before = text.length;
    for (std::size_t line = pos.line; line < count; ++line) before -= text.lines[line].size();
    before -= 2 * (count - 1 - pos.line);
  }
  return before + pos.col;
}

TextPos PosAt(const HistoryText& text, std::size_t offset) {
  TextPos pos;
  for (; pos.line + 1 < text.lines.size(); ++pos.line) {
    const std::size_t size = text.lines[pos.line].size();
    if (offset <= size) break;
    offset -= std::min(offset, size + 2);
  }
  pos.col = std::min(offset, text.lines[pos.line].size());
  return pos;
}

TextPos Insert(HistoryText& text, TextPos at, std::string_view bytes) {
  std::string tail = text.lines[at.line].substr(at.col);
  text.lines[at.line].resize(at.col);
  std::size_t line = at.line;
  std::size_t start = 0;
  for (std::size_t i = 0; i + 1 < bytes.size(); ++i) {
    if (bytes[i] != '\r' || bytes[i + 1] != '\n') continue;
    text.lines[line].append(bytes.substr(start, i - start));
    text.lines.insert(text.lines.begin() + static_cast<std::ptrdiff_t>(++line), std::string());
    start = i + 2;
    ++i;
  }
  text.lines[line].append(bytes.substr(start));
  const TextPos after{line, text.lines[line].size()};
  text.lines[line] += tail;
  text.length += bytes.size();
  return after;
}

void Erase(HistoryText& text, TextPos from, TextPos to) {
  if (!(from < to)) return;
  std::string& first = text.lines[from.line];
  if (from.line == to.line) {
    first.erase(from.col, to.col - from.col);
    text.length -= to.col - from.col;
    return;
  }
  std::size_t removed = first.size() - from.col + 2 + to.col;
  for (std::size_t line = from.line + 1; line < to.line; ++line) {
    removed += text.lines[line].size() + 2;
  }
  first.resize(from.col);
  first.append(text.lines[to.line], to.col);
  text.lines.erase(text.lines.begin() + static_cast<std::ptrdiff_t>(from.line + 1),
                   text.lines.begin() + static_cast<std::ptrdiff_t>(to.line + 1));
  text.length -= removed;
}

std::size_t DropOldestLines(HistoryText& text) {
  if (text.max_lines <= 0) return 0;
  const std::size_t lines = text.lines.size() - (text.lines.back().empty() ? 1 : 0);
  if (lines <= static_cast<std::size_t>(text.max_lines)) return 0;
  const std::size_t excess = lines - static_cast<std::size_t>(text.max_lines);
  for (std::size_t i = 0; i < excess; ++i) {
    text.length -= text.lines.front().size() + 2;
    text.lines.pop_front();
  }
  auto shift = [excess](TextPos& pos) {
    pos = pos.line < excess ? TextPos{} : TextPos{pos.line - excess, pos.col};
  };
  shift(text.caret);
  shift(text.anchor);
  return excess;
}

std::pair<TextPos, TextPos> Selection(const HistoryText& text) {
  return std::minmax(text.anchor, text.caret);
}

bool HasSelection(const HistoryText& text) {
  return !(text.anchor == text.caret);
}

bool IsWordChar(char c) {
  return c != ' ' && c != '\t';
}

TextPos WordLeft(const HistoryText& text, TextPos pos) {
  if (pos.col == 0)
    return pos.line > 0 ? TextPos{pos.line - 1, text.lines[pos.line - 1].size()} : pos;
  const std::string& line = text.lines[pos.line];
  while (pos.col > 0 && !IsWordChar(line[pos.col - 1])) --pos.col;
  while (pos.col > 0 && IsWordChar(line[pos.col - 1])) --pos.col;
  return pos;
}

TextPos WordRight(const HistoryText& text, TextPos pos) {
  const std::string& line = text.lines[pos.line];
  if (pos.col == line.size())
    return pos.line + 1 < text.lines.size() ? TextPos{pos.line + 1, 0} : pos;
  while (pos.col < line.size() && IsWordChar(line[pos.col])) ++pos.col;
  while (pos.col < line.size() && !IsWordChar(line[pos.col])) ++pos.col;
  return pos;
}

}  // namespace win32port
