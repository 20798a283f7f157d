// What the files of the Win32 port's history share (Win32Memo.cpp, the memo's
// port operations and its painting; Win32MemoInput.cpp, the window's
// procedure: keys, mouse, clipboard, menu). Included only by them.
//
// Main thread only.
#pragma once

#include <string>

#include "framework/gui/HistoryView.h"
#include "framework/gui/win32/Win32Port_p.h"

namespace win32port {

// The history's window: it draws and measures for the view with GDI, and
// carries the view, which holds the text.
struct MemoState final : THistorySurface {
  explicit MemoState(HWND window) : memo(window), view(this) {}

  Metrics MeasureFont() override;
  void DrawRun(double x, int y, std::u16string_view text, double width, bool selected) override;
  void PlaceCaret(bool shown, double x, int y) override;
  void SetScrollBar(std::size_t max, std::size_t page, std::size_t position) override;
  void Repaint() override;
  void StartTimer(int id, int ms) override;
  std::u16string_view LineBreak() const override { return u"\r\n"; }
  void SetClipboardText(std::size_t length, const std::function<void(char16_t*)>& write) override;
  std::u16string ClipboardText() override;

  // WM_PAINT: the rows in the update region, drawn off screen and copied.
  void Paint();

  HWND memo;
  THistoryView view;
  HFONT font = nullptr;  // not owned
  int line_height = 16;
  bool vertical_bar = true;
  HDC paint_dc = nullptr;  // during a paint
};

}  // namespace win32port
