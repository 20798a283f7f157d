// The memo: a multi-line plain-text edit, the chat window's history.
//
// Its text, as read back, uses CR LF between lines. A lone CR or LF inside a
// line is not a line break: it shows as the symbol "␍" (U+240D) or "␊"
// (U+240A) and reads back as the byte it was.
//
// The memo keeps at most MaxLines() lines, counted as TMemoLines counts them,
// and lets the oldest go as soon as there are more. Under an endless flood of
// lines its memory stops growing there, and the cost of adding a line stays
// what it was.
//
// The text, the caret, the selection and the rows on screen are the history's
// own (HistoryText.h, HistoryView.h), the same on every port; the port's
// widget only draws it and hands it the user's input. A flood of lines costs
// one repaint per frame of the display, not one per line: an added line is in
// the text at once and asks for a repaint, which later lines share.
//
// Main thread only.
#pragma once

#include <string>

#include "framework/gui/Controls.h"

class TMemo;
class THistoryView;

// The lines of a memo, as a string list would see its text: the text split at
// CR LF, a final line break not making an empty last line.
class TMemoLines {
 public:
  explicit TMemoLines(TMemo* memo) : memo_(memo) {}
  int Count() const;
  std::string Strings(int index) const;
  // Adds a line at the end of the memo (see TMemo::AddLine).
  void Add(const std::string& line);

 private:
  TMemo* memo_;
};

enum TScrollStyle { ssNone, ssHorizontal, ssVertical, ssBoth };

// The user can edit the text; lines wrap at the memo's width.
class TMemo : public TWinControl {
 public:
  explicit TMemo(TComponent* owner, TWinControl* parent = nullptr);

  // The whole text with CR LF between lines. Reads the whole history: for
  // tests and rare use, not per line.
  std::string Text() const;
  void SetText(const std::string& text);
  TMemoLines* Lines() { return &lines_; }

  // Adds a line at the end: when the memo is empty or its text ends with a line
  // break, the line followed by CR LF; otherwise CR LF followed by the line.
  // The line ends at its first zero byte (and then the CR LF that would follow
  // it is not added). CR LF inside the line breaks it. The caret ends after the
  // insertion; a selection is given up. The cost does not depend on how much
  // the memo already holds.
  void AddLine(const std::string& line);

  // 1,000,000 lines of 64 bytes of a chat history fill about 70 MB; a user
  // reads the newest of them.
  static constexpr int kDefaultMaxLines = 1000000;
  int MaxLines() const { return max_lines_; }
  // REQUIRES: lines > 0. Lets the oldest lines go at once when there are more.
  void SetMaxLines(int lines);

  TScrollStyle ScrollBars() const { return scroll_bars_; }
  void SetScrollBars(TScrollStyle style);

  // The position of the caret in the text as read back, and the selection.
  int SelStart() const;
  int SelLength() const;

  // The history the widget shows, with its text, caret and rows (for the
  // framework, benchmarks and tests); none once the widget is gone.
  THistoryView* View() const;

 protected:
  bool ColorIsBackground() const override { return true; }

 private:
  TMemoLines lines_{this};
  TScrollStyle scroll_bars_ = ssNone;
  int max_lines_ = kDefaultMaxLines;
};
