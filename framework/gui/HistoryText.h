// The history's text: lines of Windows-1251 bytes, the caret and the
// selection, the editing operations, the line limit, and the memo's rule for
// adding a line. Plain C++ without any toolkit: the memo's view
// (HistoryView.h) draws it through a port, and tests and the fuzzer drive it
// alone.
//
// The text is a list of lines, never empty: an empty history is one empty
// line, and a final line break leaves an empty last line. Read back, the lines
// are joined with CR LF; a lone CR or LF inside a line is one of its bytes.
// Offsets into the text as read back count a line break as two (CR LF), or as
// one where a port's interface counts it so (the accessible text of the Qt
// port): every conversion between places and offsets is here.
//
// The lines are kept in blocks of a few kilobytes (their bytes one after
// another and where each ends), so that a line costs its bytes and about six
// more, adding a line at the end and letting the oldest go cost what they
// are, and an edit rebuilds only the blocks it touches, wherever it is.
//
// Main thread only (not thread-safe).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// A place in the text: a line and a byte in it.
struct TTextPos {
  std::size_t line = 0;
  std::size_t col = 0;
  friend bool operator==(TTextPos a, TTextPos b) { return a.line == b.line && a.col == b.col; }
  friend bool operator<(TTextPos a, TTextPos b) {
    return a.line != b.line ? a.line < b.line : a.col < b.col;
  }
};

class THistoryText {
 public:
  // A line break in the text read back, and in interfaces that count it as one.
  static constexpr std::size_t kCrLf = 2;
  static constexpr std::size_t kOneChar = 1;

  THistoryText();

  std::size_t LineCount() const;  // at least 1
  // REQUIRES: index < LineCount(). Valid until the next change.
  std::string_view Line(std::size_t index) const;
  // Calls each with the lines from one to another (from <= to < LineCount()),
  // in order; faster than Line for many.
  void ForEachLine(std::size_t from, std::size_t to,
                   const std::function<void(std::string_view)>& each) const;
  // Lines as a string list counts them: a final empty line is none.
  std::size_t CountedLines() const;
  // Empty, or a line break last.
  bool EndsAtLineStart() const { return Line(LineCount() - 1).empty(); }
  TTextPos End() const;
  // Of the text read back, a line break counting break_size.
  std::size_t Length(std::size_t break_size = kCrLf) const;
  std::string Text() const;  // CR LF between lines
  // The place clamped into the text.
  TTextPos Clamp(TTextPos pos) const;

  // Where a place is in the text read back, and the place at an offset of it
  // (past the end: the end; between CR and LF: the next line's start).
  std::size_t Offset(TTextPos pos, std::size_t break_size = kCrLf) const;
  TTextPos PosAt(std::size_t offset, std::size_t break_size = kCrLf) const;

  // The whole text, CR LF breaking lines; the caret at its start.
  void Assign(std::string_view bytes);

  // The selection runs from the anchor to the caret.
  TTextPos Caret() const { return caret_; }
  TTextPos Anchor() const { return anchor_; }
  // Both are clamped into the text.
  void Select(TTextPos anchor, TTextPos caret);
  std::pair<TTextPos, TTextPos> Selection() const;
  bool HasSelection() const { return !(anchor_ == caret_); }
  // Replaces the selection (or inserts at the caret) and puts the caret after
  // the bytes, with no selection. Every CR LF the text then holds is a line
  // break, also one that a CR and an LF on either side of the bytes make.
  void ReplaceSelection(std::string_view bytes);

  // Adds a line at the end: when the text is empty or ends with a line break,
  // the line followed by CR LF; otherwise CR LF followed by the line. The line
  // ends at its first zero byte, and then the CR LF that would follow it is
  // not added. CR LF inside it breaks it. The caret ends after the insertion;
  // a selection is given up. Costs what the line costs, however long the text.
  void AddLine(std::string_view line);

  // At most MaxLines() lines (counted as CountedLines counts them) whenever
  // more come: the oldest go, and the caret and the anchor keep their places
  // in the lines that stay (in a line that went: the text's start). 0: no limit.
  int MaxLines() const { return max_lines_; }
  void SetMaxLines(int lines);
  // How many lines have gone from the front since the text was made: a view
  // that remembers it knows how far its own places moved.
  std::uint64_t DroppedLines() const { return dropped_; }

  // Words are separated by spaces and tabs; a word move from a line's edge
  // goes to the neighbouring line's.
  static bool IsWordChar(char c) { return c != ' ' && c != '\t'; }
  TTextPos WordLeft(TTextPos pos) const;
  TTextPos WordRight(TTextPos pos) const;

 private:
  // Lines one after another: line k of the block is bytes [ends[k-1], ends[k]).
  struct Block {
    std::string bytes;
    std::vector<std::uint32_t> ends;
  };
  struct Found {
    std::size_t block;
    std::size_t index;  // in the block
  };

  // Replaces the text from one place to another (from <= to, both in the
  // text) with bytes, CR LF breaking lines; returns the place after them
  // (between a CR and an LF: the next line's start).
  TTextPos Replace(TTextPos from, TTextPos to, std::string_view bytes);
  Found Locate(std::size_t line) const;
  std::string_view LineIn(const Block& block, std::size_t index) const;
  std::size_t LiveFrom(std::size_t block) const;  // its first live line's index
  std::size_t LiveBytes(std::size_t block) const;
  // Appends one line (new_line) or more bytes of the last line.
  void Append(std::string_view bytes, bool new_line);
  void AppendText(std::string_view bytes);  // CR LF breaking lines
  void CloseBlock(Block& block);
  void KeepLineLimit();

  std::deque<Block> blocks_;
  // The number of each block's line 0, counted from the text's making: apart
  // from the blocks, so that renumbering after an edit that adds or removes
  // lines is a short walk through a small array.
  std::deque<std::uint64_t> firsts_;
  std::size_t dead_ = 0;   // lines of the first block that have gone
  std::size_t bytes_ = 0;  // of the live lines
  std::uint64_t dropped_ = 0;
  int max_lines_ = 0;
  TTextPos caret_, anchor_;
};
