// The Win32 port's memo: a multi-line EDIT that holds back lines
// added in quick succession until the end of the display's frame, and the
// memo's operations.
//
// Every change of the edit's text costs a new layout of the changed lines, a
// scroll-bar update and a repaint, so lines added within one frame of the last
// insertion (three frames during a flood, and never less than the last
// insertion took) wait and go in together at the end of the wait; a line after
// a quiet frame goes in at once. What waits goes in
// before any read of the port and before any input of the user reaches the
// edit. The port keeps where each line starts and how long the text is, so
// that it never has to count the edit's lines; the user may edit the history
// too, and after such an edit the port counts them once, at its next use.
//
// At the line limit every insertion lets the oldest lines go. The starts of
// the lines are kept as positions in everything ever written to the edit, with
// the count of characters that went from its front, so that dropping lines
// costs what they are, not the lines that stay; and a line is read from the
// edit's own buffer, not from a copy of the whole text.
#include <algorithm>
#include <deque>

#include "framework/core/ScopeGuard.h"
#include "framework/gui/win32/Win32Port_p.h"

namespace win32port {

struct MemoState {
  std::wstring waiting;  // text not yet in the edit, lines split by CR LF
  bool caret_to_end = false;
  bool flushing = false;
  bool inserted_before = false;
  ULONGLONG last_insertion_ms = 0;  // when the last insertion was done
  // What it took, painting included. Lines wait as long (up to
  // kLongestWaitMs), so that the edit's work takes at most half of the main
  // thread: the system's edit under Wine spends time on every insertion that
  // grows with its whole text. Past that the main thread is busy with the edit
  // and the senders wait for it, instead of lines piling up in memory.
  ULONGLONG last_insertion_cost_ms = 0;
  std::size_t last_insertion_breaks = 0;
  // One frame of the display, looked up once a frame: asking the display for
  // every added line would cost more than adding it.
  int frame_ms = 0;
  std::size_t length = 0;  // of the edit's text
  // Where every line starts, the last one included, counted in everything
  // written since the text was last set; dropped is where the edit's text now
  // starts on that count.
  std::deque<std::uint64_t> starts;
  std::uint64_t dropped = 0;
  int max_lines = 0;     // 0: no limit
  bool writing = false;  // the port itself is changing the text
  bool stale = false;    // the user changed the text: length and starts are to be counted

  // Where a line starts in the edit's text.
  std::size_t Start(std::size_t line) const {
    return static_cast<std::size_t>(starts[line] - dropped);
  }
};

}  // namespace win32port

using win32port::MemoState;
using win32port::WidgetData;

namespace {

constexpr UINT_PTR kFrameTimer = 1;
constexpr std::size_t kFloodBreaks = 64;
// A quarter of a second, which still reads as live.
constexpr ULONGLONG kLongestWaitMs = 250;
constexpr std::size_t kKeptCapacity = 64 * 1024;

// Lone CR and LF inside a line are not line breaks; they show as these symbols,
// which have no Windows-1251 code, so reading back is unambiguous.
constexpr wchar_t kShownCR = L'\u240D';
constexpr wchar_t kShownLF = L'\u240A';

void AppendShown(std::wstring& out, std::string_view ansi) {
  std::wstring text = win32port::ToWide(ansi);
  out.reserve(out.size() + text.size() + 2);
  for (std::size_t i = 0; i < text.size(); ++i) {
    wchar_t c = text[i];
    if (c == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') {
      out += L"\r\n";
      ++i;
    } else if (c == L'\r') {
      out += kShownCR;
    } else if (c == L'\n') {
      out += kShownLF;
    } else {
      out += c;
    }
  }
}

std::string FromShown(std::wstring_view shown) {
  std::wstring text(shown);
  for (wchar_t& c : text) {
    if (c == kShownCR) c = L'\r';
    if (c == kShownLF) c = L'\n';
  }
  return win32port::FromWide(text);
}

MemoState& State(NativeWidget memo) {
  return *win32port::DataOf(memo)->memo;
}

// Changes the text as the port, not as the user.
template <typename Change>
void Write(MemoState& state, Change change) {
  auto writing = ScopedValue(state.writing, true);
  change();
}

// Notes where the lines of text start, text going in at the end of the edit's
// text.
std::size_t NoteLineStarts(MemoState& state, std::wstring_view text) {
  const std::uint64_t offset = state.dropped + state.length;
  std::size_t breaks = 0;
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] == L'\r' && text[i + 1] == L'\n') {
      state.starts.push_back(offset + i + 2);
      ++breaks;
    }
  }
  return breaks;
}

// Removes the oldest lines beyond the limit, in one edit. A final empty line
// (the text ends with a line break) is no line.
void DropOldestLines(HWND memo, MemoState& state) {
  if (state.max_lines <= 0) return;
  const std::size_t last = state.starts.size() - 1;
  const std::size_t lines = state.starts.size() - (state.Start(last) == state.length ? 1 : 0);
  if (lines <= static_cast<std::size_t>(state.max_lines)) return;
  const std::size_t excess = lines - static_cast<std::size_t>(state.max_lines);
  const std::size_t cut = state.Start(excess);
  SendMessageW(memo, EM_SETSEL, 0, static_cast<LPARAM>(cut));
  Write(state, [memo] { SendMessageW(memo, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L"")); });
  state.starts.erase(state.starts.begin(),
                     state.starts.begin() + static_cast<std::ptrdiff_t>(excess));
  state.dropped += cut;
  state.length -= cut;
}

// One frame of the display, in milliseconds.
int FrameMs(HWND memo) {
  HDC dc = GetDC(memo);
  int rate = GetDeviceCaps(dc, VREFRESH);
  ReleaseDC(memo, dc);
  if (rate < 24 || rate > 240) rate = 60;
  return 1000 / rate;
}

// Counts the lines of a text that the user has changed.
void CountLines(HWND memo, MemoState& state) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(memo)) + 1, L'\0');
  const int length = GetWindowTextW(memo, text.data(), static_cast<int>(text.size()));
  text.resize(static_cast<std::size_t>(std::max(length, 0)));
  state.starts.assign(1, 0);
  state.dropped = 0;
  state.length = 0;
  NoteLineStarts(state, text);
  state.length = text.size();
  state.stale = false;
}

// Puts in what waits. Every reader of the text calls this first.
void Flush(HWND memo) {
  MemoState& state = State(memo);
  if (state.flushing) return;
  KillTimer(memo, kFrameTimer);
  auto flushing = ScopedValue(state.flushing, true);
  if (state.stale) CountLines(memo, state);
  if (!state.caret_to_end && state.waiting.empty()) return;
  const ULONGLONG started = GetTickCount64();
  const bool inserting = !state.waiting.empty();
  if (inserting) {
    state.last_insertion_breaks = NoteLineStarts(state, state.waiting);
    SendMessageW(memo, EM_SETSEL, state.length, state.length);
    Write(state, [memo, &state] {
      SendMessageW(memo, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(state.waiting.c_str()));
    });
    state.length += state.waiting.size();
    if (state.waiting.capacity() > kKeptCapacity) {
      state.waiting = std::wstring();
    } else {
      state.waiting.clear();
    }
    DropOldestLines(memo, state);
  }
  if (state.caret_to_end) {
    state.caret_to_end = false;
    SendMessageW(memo, EM_SETSEL, state.length, state.length);
    SendMessageW(memo, EM_SCROLLCARET, 0, 0);
  }
  if (inserting) {
    // The edit paints the change now, so that the insertion's whole cost is
    // known when the next lines come.
    UpdateWindow(memo);
    state.inserted_before = true;
    state.last_insertion_ms = GetTickCount64();
    state.last_insertion_cost_ms = state.last_insertion_ms - started;
    state.frame_ms = FrameMs(memo);
  }
}

void AddAtEnd(HWND memo, std::wstring_view text) {
  MemoState& state = State(memo);
  state.waiting += text;
  state.caret_to_end = true;
  if (state.frame_ms == 0) state.frame_ms = FrameMs(memo);
  const ULONGLONG frames =
      state.last_insertion_breaks > kFloodBreaks ? 3 * state.frame_ms : state.frame_ms;
  const ULONGLONG wait_ms =
      std::max(frames, std::min(state.last_insertion_cost_ms, kLongestWaitMs));
  const ULONGLONG elapsed = GetTickCount64() - state.last_insertion_ms;
  if (!state.inserted_before || elapsed >= wait_ms) {
    Flush(memo);
  } else {
    // SetTimer on a running timer restarts it: only the first line sets it.
    if (state.waiting.size() == text.size()) {
      SetTimer(memo, kFrameTimer, static_cast<UINT>(wait_ms - elapsed), nullptr);
    }
  }
}

std::wstring EditText(HWND memo) {
  MemoState& state = State(memo);
  std::wstring text(state.length + 1, L'\0');
  int length = GetWindowTextW(memo, text.data(), static_cast<int>(text.size()));
  text.resize(static_cast<std::size_t>(std::max(length, 0)));
  return text;
}

}  // namespace

namespace win32port {

void MemoStateDeleter::operator()(MemoState* state) const {
  delete state;
}

void CreateMemoState(WidgetData& data) {
  data.memo.reset(new MemoState);
  data.memo->starts.push_back(0);
}

void MemoTextChanged(HWND memo) {
  MemoState& state = State(memo);
  if (!state.writing) state.stale = true;
}

bool MemoMessage(HWND memo, WidgetData& data, UINT message, WPARAM wparam, LRESULT& result) {
  switch (message) {
    case WM_TIMER:
      if (wparam != kFrameTimer) return false;
      Flush(memo);
      result = 0;
      return true;
    // The user's input, and the reads of assistive tools: they see the text
    // with every line added.
    case WM_KEYDOWN:
    case WM_CHAR:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_MOUSEWHEEL:
    case WM_CONTEXTMENU:
    case WM_VSCROLL:
    case WM_GETTEXT:
    case WM_GETTEXTLENGTH:
      if (data.memo != nullptr) Flush(memo);
      return false;
    default:
      return false;
  }
}

}  // namespace win32port

namespace port {

bool MemoEndsAtLineStart(NativeWidget memo) {
  MemoState& state = State(memo);
  if (!state.waiting.empty()) return state.waiting.back() == L'\n';
  Flush(memo);
  return state.length == state.Start(state.starts.size() - 1);
}

void MemoAddAtEnd(NativeWidget memo, std::string_view line, bool break_before, bool break_after) {
  std::wstring text;
  if (break_before) text += L"\r\n";
  AppendShown(text, line);
  if (break_after) text += L"\r\n";
  AddAtEnd(memo, text);
}

void MemoFlush(NativeWidget memo) {
  Flush(memo);
}

void MemoSetText(NativeWidget memo, std::string_view text) {
  MemoState& state = State(memo);
  KillTimer(memo, kFrameTimer);
  state.waiting = std::wstring();
  state.caret_to_end = false;
  std::wstring shown;
  AppendShown(shown, text);
  state.starts.assign(1, 0);
  state.dropped = 0;
  state.length = 0;
  NoteLineStarts(state, shown);
  state.stale = false;
  Write(state, [memo, &shown] { SetWindowTextW(memo, shown.c_str()); });
  state.length = shown.size();
  DropOldestLines(memo, state);
}

std::string MemoText(NativeWidget memo) {
  Flush(memo);
  return FromShown(EditText(memo));
}

int MemoBlockCount(NativeWidget memo) {
  Flush(memo);
  return static_cast<int>(State(memo).starts.size());
}

std::string MemoLine(NativeWidget memo, int index) {
  Flush(memo);
  MemoState& state = State(memo);
  if (index < 0 || static_cast<std::size_t>(index) >= state.starts.size()) return std::string();
  const std::size_t line = static_cast<std::size_t>(index);
  const std::size_t start = state.Start(line);
  const std::size_t end = line + 1 < state.starts.size() ? state.Start(line + 1) - 2 : state.length;
  // The edit's own buffer, which it lends until its next change.
  HLOCAL buffer = reinterpret_cast<HLOCAL>(SendMessageW(memo, EM_GETHANDLE, 0, 0));
  if (buffer == nullptr || LocalSize(buffer) < (end + 1) * sizeof(wchar_t)) return std::string();
  const auto* text = static_cast<const wchar_t*>(LocalLock(buffer));
  if (text == nullptr) return std::string();
  ScopeGuard unlock([buffer] { LocalUnlock(buffer); });
  return FromShown(std::wstring_view(text + start, end - start));
}

int MemoSelStart(NativeWidget memo) {
  Flush(memo);
  DWORD start = 0, end = 0;
  SendMessageW(memo, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
  return static_cast<int>(start);
}

int MemoSelLength(NativeWidget memo) {
  Flush(memo);
  DWORD start = 0, end = 0;
  SendMessageW(memo, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
  return static_cast<int>(end - start);
}

void MemoSetMaxLines(NativeWidget memo, int lines) {
  Flush(memo);
  MemoState& state = State(memo);
  state.max_lines = lines;
  DropOldestLines(memo, state);
}

void MemoSetScrollBars(NativeWidget memo, bool vertical, bool horizontal) {
  // The history wraps its lines at the edit's width, so a horizontal bar would
  // never have anything to scroll.
  ShowScrollBar(memo, SB_VERT, vertical ? TRUE : FALSE);
  ShowScrollBar(memo, SB_HORZ, horizontal ? TRUE : FALSE);
}

}  // namespace port
