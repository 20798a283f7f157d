// The Win32 port's memo: a window of the port's own (class "KvHistory") that
// holds the history's lines itself and draws only the rows that are visible.
//
// The system's multi-line EDIT keeps its whole text in one buffer and its
// lines in a list that most of its steps walk, so that under Wine every added
// line and every repaint costs more the longer the history is. Here a line is
// a string of Windows-1251 bytes in a deque (HistoryText.h): adding a line at
// the end and letting the oldest go cost what they are, and a repaint lays out
// the rows it shows, wrapped at the window's width, and nothing else
// (Win32MemoLayout.cpp). The window's procedure, the user's editing, is
// Win32MemoInput.cpp's; here are the memo's port operations.
//
// A lone CR or LF inside a line is kept as its byte and shows as "␍" (U+240D)
// or "␊" (U+240A), which have no Windows-1251 code; on the clipboard and in
// WM_GETTEXT the symbols stand for them, and pasted or set symbols turn back
// into the bytes.
#include "framework/gui/win32/Win32Memo_p.h"

namespace win32port {

void MemoStateDeleter::operator()(MemoState* state) const {
  delete state;
}

void CreateMemoState(WidgetData& data) {
  data.memo.reset(new MemoState);
}

}  // namespace win32port

namespace {

using win32port::MemoState;

MemoState& State(HWND memo) {
  return *win32port::DataOf(memo)->memo;
}

}  // namespace

namespace port {

bool MemoEndsAtLineStart(NativeWidget memo) {
  return State(memo).lines.back().empty();
}

void MemoAddAtEnd(NativeWidget memo, std::string_view line, bool break_before, bool break_after) {
  MemoState& state = State(memo);
  if (break_before) Insert(state, End(state), "\r\n");
  Insert(state, End(state), line);
  if (break_after) Insert(state, End(state), "\r\n");
  state.caret = state.anchor = End(state);
  state.goal_x = -1;
  win32port::KeepLineLimit(state);
  Changed(memo, state);
}

void MemoFlush(NativeWidget /*memo*/) {
  // Every line is in the view's lines as soon as it is added; nothing waits.
}

void MemoSetText(NativeWidget memo, std::string_view text) {
  MemoState& state = State(memo);
  ResetText(memo, state, text);
  Changed(memo, state);
}

std::string MemoText(NativeWidget memo) {
  const MemoState& state = State(memo);
  std::string text;
  text.reserve(state.length);
  for (std::size_t line = 0; line < state.lines.size(); ++line) {
    if (line > 0) text += "\r\n";
    text += state.lines[line];
  }
  return text;
}

int MemoBlockCount(NativeWidget memo) {
  return static_cast<int>(State(memo).lines.size());
}

std::string MemoLine(NativeWidget memo, int index) {
  const MemoState& state = State(memo);
  if (index < 0 || static_cast<std::size_t>(index) >= state.lines.size()) return std::string();
  return state.lines[static_cast<std::size_t>(index)];
}

int MemoSelStart(NativeWidget memo) {
  const MemoState& state = State(memo);
  return static_cast<int>(Offset(state, Selection(state).first));
}

int MemoSelLength(NativeWidget memo) {
  const MemoState& state = State(memo);
  const auto [from, to] = Selection(state);
  return static_cast<int>(Offset(state, to) - Offset(state, from));
}

void MemoSetMaxLines(NativeWidget memo, int lines) {
  MemoState& state = State(memo);
  state.max_lines = lines;
  win32port::KeepLineLimit(state);
  Changed(memo, state);
}

void MemoSetScrollBars(NativeWidget memo, bool vertical, bool horizontal) {
  // The history wraps its lines at the view's width, so a horizontal bar would
  // never have anything to scroll.
  MemoState& state = State(memo);
  state.vertical_bar = vertical;
  state.shown_bar = SCROLLINFO{};
  ShowScrollBar(memo, SB_VERT, vertical ? TRUE : FALSE);
  ShowScrollBar(memo, SB_HORZ, horizontal ? TRUE : FALSE);
  InvalidateRect(memo, nullptr, FALSE);
}

}  // namespace port
