// The memo: a multi-line plain-text edit, the chat window's history.
//
// Its text, as read back, uses CR LF between lines. A lone CR or LF inside a
// line is not a line break: it shows as the symbol "␍" (U+240D) or "␊"
// (U+240A) and reads back as the byte it was.
//
// The memo keeps the newest MaxLines() lines, counted as TMemoLines counts
// them, and lets the oldest go. Lines added may go a slice at a time: the memo
// then holds up to MaxLines() + MaxLines() / 40 lines and, past that, the
// newest MaxLines() again; set text and a lowered limit leave MaxLines() at
// most. Under an endless flood of lines its memory stops growing there, and
// the cost of adding a line stays about what it was.
//
// A flood of lines costs one repaint per frame of the display, not one per
// line: a port may hold lines added within a frame back and put them into its
// widget together at the frame's end (the Qt port's document does). Every read
// through TMemo, and every input of the user, sees them at once; code that
// reaches past TMemo to the widget calls Flush() first.
//
// Main thread only.
#pragma once

#include <string>

#include "framework/gui/Controls.h"

class TMemo;

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
  // Puts the lines that wait for the end of the frame into the widget.
  void Flush();

  // 1,000,000 lines of a chat history fill about 300 MB; a user reads the
  // newest of them.
  static constexpr int kDefaultMaxLines = 1000000;
  int MaxLines() const { return max_lines_; }
  // REQUIRES: lines > 0. Lets the oldest lines go at once when there are more.
  // The slice beyond the limit is a port's choice, at most a fortieth of it.
  void SetMaxLines(int lines);

  TScrollStyle ScrollBars() const { return scroll_bars_; }
  void SetScrollBars(TScrollStyle style);

  // The position of the caret in the text as read back, and the selection.
  int SelStart() const;
  int SelLength() const;

 protected:
  bool ColorIsBackground() const override { return true; }

 private:
  TMemoLines lines_{this};
  TScrollStyle scroll_bars_ = ssNone;
  int max_lines_ = kDefaultMaxLines;
};
