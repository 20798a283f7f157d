// The history's view: its text (HistoryText.h) wrapped into rows at the
// view's width as the system's multi-line edit wraps, scrolled, painted row by
// row, and edited by the user with the keys, the mouse and the clipboard. Plain
// C++ without any toolkit: a port's widget implements THistorySurface (measure
// and draw text, set the scroll bar, the clipboard, timers and repaints) and
// hands the user's input to the view.
//
// Only the rows in view are ever laid out: a line's rows are measured when
// they are shown, moved over or pointed at, so that adding a line, a resize and
// a change of font cost what the view shows, not what the history holds. The
// scroll bar counts lines (exact in lines, approximate in rows). While the
// view shows the end of the text it keeps showing it as lines are added.
//
// Repaints are coalesced: a change asks the port for a repaint at most once a
// frame of the display, and the scroll bar is told at most five times a
// second, since telling it can cost milliseconds (under Wine it repaints the
// bar through the X server at once).
//
// A byte shows as its Windows-1251 character; a lone CR or LF, which no line
// break stands for, as the symbol "␍" (U+240D) or "␊" (U+240A). On the
// clipboard the symbols stand for the bytes, and pasted symbols turn back into
// them.
//
// Main thread only.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "framework/gui/HistoryText.h"

// What the port's widget does for the view. Coordinates are pixels of the
// view's client area (the toolkit's logical pixels), x from its left edge, y
// from its top.
class THistorySurface {
 public:
  struct Metrics {
    // The advance of each byte's shown character in the font (THistoryView::
    // ShownChar), as the toolkit places characters one after another.
    std::array<double, 256> advances{};
    int row_height = 16;
    double tab_width = 64;  // tab stops, from a row's start
    int margin = 2;         // left and right of the text
    int top = 0;            // above the first row
  };
  // The metrics of the widget's current font.
  virtual Metrics MeasureFont() = 0;
  // Draws shown text with its left edge at x in the row whose top is y, on the
  // selection's colours over width when selected (text may then be empty).
  virtual void DrawRun(double x, int y, std::u16string_view text, double width, bool selected) = 0;
  // Where the caret stands after a paint; shown false when out of view.
  virtual void PlaceCaret(bool shown, double x, int y) = 0;
  // The vertical scroll bar: positions 0 to max, page of them in view, the
  // first in view at position.
  virtual void SetScrollBar(std::size_t max, std::size_t page, std::size_t position) = 0;
  // The view wants painting again, as soon as the toolkit can: at once where a
  // paint would otherwise wait until the event queue is empty.
  virtual void Repaint() = 0;
  // Calls THistoryView::TimerFired(id) once, about ms later.
  virtual void StartTimer(int id, int ms) = 0;
  // The platform's line break on the clipboard (u"\r\n" or u"\n").
  virtual std::u16string_view LineBreak() const = 0;
  // Puts length characters, which write fills in, on the clipboard.
  virtual void SetClipboardText(std::size_t length,
                                const std::function<void(char16_t*)>& write) = 0;
  virtual std::u16string ClipboardText() = 0;
  // The caret or the selection moved, or the text changed: for input methods
  // and assistive tools.
  virtual void CaretMoved() {}

 protected:
  ~THistorySurface() = default;
};

class THistoryView {
 public:
  enum class Key { Left, Right, Up, Down, PageUp, PageDown, Home, End, Delete, Backspace, Enter };
  // A rectangle of the client area.
  struct Box {
    double x = 0;
    int y = 0;
    double width = 0;
    int height = 0;
  };

  explicit THistoryView(THistorySurface* surface);

  const THistoryText& Text() const { return text_; }

  // ---- the memo's operations (see THistoryText) ----
  void AddLine(std::string_view line);
  // The view shows the text's start, and follows the end when that is in view too.
  void SetText(std::string_view bytes);
  void SetMaxLines(int lines);
  // As an edit's program sets it: clamped; the caret's row comes into view.
  void Select(TTextPos anchor, TTextPos caret);

  // ---- the port's ----
  void SetSize(int width, int height);
  // The widget's font changed: measures it again.
  void FontChanged();
  // Paints the rows between y top and bottom; the port has filled the
  // background there.
  void Paint(int top, int bottom);
  void TimerFired(int id);
  int VisibleRows() const;

  // ---- the user's ----
  void KeyDown(Key key, bool shift, bool control);
  // Typed characters at the caret, over the selection; control characters
  // are no text.
  void Type(std::u16string_view typed);
  bool HasSelection() const { return text_.HasSelection(); }
  void Cut();
  void Copy();
  void Paste();
  // Text put in as a paste puts it, over the selection (an assistive tool's).
  void PasteText(std::u16string_view text);
  void DeleteSelection();
  void SelectAll();
  // A press of the mouse's main button; extend: the anchor stays.
  void MouseDown(int x, int y, bool extend);
  // Moves the caret while the button is held; beyond the top or the bottom
  // the view scrolls a row.
  void MouseMove(int x, int y);
  void MouseUp();
  // Selects the word under the mouse.
  void DoubleClick(int x, int y);
  // delta: 120 a notch, away from the user positive.
  void Wheel(int delta, int rows_per_notch);
  void ScrollRows(long rows);
  void ScrollToLine(std::size_t line);

  // ---- for input methods and assistive tools ----
  Box CaretBox();
  // The character at pos (width 0 at a line's end).
  Box CharBox(TTextPos pos);
  TTextPos PosAtPoint(int x, int y);

  // ---- shown text ----
  static char16_t ShownChar(unsigned char byte);
  // The shown text from one place to another with line_break between lines:
  // its length, and the text written to out.
  std::size_t ShownLength(TTextPos from, TTextPos to, std::u16string_view line_break) const;
  void WriteShown(TTextPos from, TTextPos to, std::u16string_view line_break, char16_t* out) const;
  std::u16string Shown(TTextPos from, TTextPos to, std::u16string_view line_break) const;
  // Shown text back to bytes: CR LF is a line break, and so is a lone LF when
  // lf_breaks; the symbols are CR and LF; the text ends at a zero character.
  static std::string BytesFromShown(std::u16string_view text, bool lf_breaks);

  static constexpr int kFrameTimer = 1;
  static constexpr int kBarTimer = 2;

 private:
  using Clock = std::chrono::steady_clock;
  // A row on screen: a line and one of the rows it wraps into.
  struct RowPos {
    std::size_t line = 0;
    std::size_t row = 0;
    friend bool operator==(RowPos a, RowPos b) { return a.line == b.line && a.row == b.row; }
    friend bool operator<(RowPos a, RowPos b) {
      return a.line != b.line ? a.line < b.line : a.row < b.row;
    }
  };

  // ---- layout ----
  double TextWidth() const;
  double Advance(unsigned char byte, double x) const;
  std::vector<std::size_t> RowStarts(std::string_view line) const;
  static std::size_t RowOf(const std::vector<std::size_t>& starts, std::size_t col);
  std::size_t RowCount(std::size_t line) const;
  RowPos RowOfPos(TTextPos pos) const;
  double XOf(std::string_view line, std::size_t start, std::size_t col) const;
  std::size_t ColumnAt(std::string_view line, std::size_t start, std::size_t end, bool last_row,
                       double x) const;
  RowPos Step(RowPos pos, long delta) const;
  RowPos EndTop() const;
  void ClampTop();
  void ResolveTop();
  long RowsBetween(RowPos a, RowPos b, long limit) const;
  // The row and x where pos shows; false when it is above the view.
  bool Place(TTextPos pos, int& y, double& x);

  // ---- changes ----
  void FollowDroppedLines();
  void Changed();
  void ShowCaretRow();
  void MoveCaret(TTextPos to, bool extend, bool keep_goal = false);
  void Replace(std::string_view bytes);
  TTextPos VerticalMove(long rows);
  TTextPos RowEdge(bool end);
  void PaintRow(std::string_view line, std::size_t start, std::size_t end,
                std::size_t selected_from, std::size_t selected_to, int y);
  void UpdateScrollBar();

  THistorySurface* surface_;
  THistoryText text_;
  THistorySurface::Metrics metrics_;
  int width_ = 0;
  int height_ = 0;
  RowPos top_;                      // the first row shown
  bool follows_end_ = true;         // the view shows the end, and keeps showing it
  std::uint64_t dropped_seen_ = 0;  // the text's dropped lines that top_ has followed
  double goal_x_ = -1;              // where Up and Down keep the caret; -1: where it is
  int wheel_delta_ = 0;
  bool dragging_ = false;
  // Repaints: asked for and not yet done; a change waits for the frame timer.
  bool repaint_asked_ = false;
  bool frame_timer_ = false;
  Clock::time_point last_paint_{};
  std::size_t lines_shown_ = 1;  // by the last paint: the scroll bar's page
  // The scroll bar: what it was last told, when, and whether the timer waits.
  std::array<std::size_t, 3> bar_shown_{};
  bool bar_told_ = false;
  Clock::time_point bar_told_at_{};
  bool bar_timer_ = false;
  std::u16string run_;  // a row's run being drawn
};
