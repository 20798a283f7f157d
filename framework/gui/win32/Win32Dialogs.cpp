// The Win32 port's standard dialogs: the system's message box and font dialog
// (with the colour and the effects).
#include <algorithm>

#include "framework/gui/win32/Win32Port_p.h"

namespace port {

int RunMessageBox(NativeWidget owner, std::string_view text, std::string_view caption, int flags) {
  if (win32port::EndRequested()) return IDCANCEL;
  return MessageBoxW(owner, win32port::ToWide(text).c_str(), win32port::ToWide(caption).c_str(),
                     static_cast<UINT>(flags));
}

bool RunFontDialog(const TFont& start, FontChoice& choice) {
  if (win32port::EndRequested()) return false;
  // The dialog turns heights into points at the screen's DPI: the height
  // there of the start's size in points.
  LOGFONTW font{};
  font.lfHeight = -std::max(start.PixelsAt(win32port::DpiOf(nullptr)), 1);
  font.lfWeight = (start.Style() & fsBold) != 0 ? FW_BOLD : FW_NORMAL;
  font.lfItalic = (start.Style() & fsItalic) != 0;
  font.lfUnderline = (start.Style() & fsUnderline) != 0;
  font.lfStrikeOut = (start.Style() & fsStrikeOut) != 0;
  font.lfCharSet = start.Charset();
  std::wstring face = win32port::ToWide(start.Name()).substr(0, LF_FACESIZE - 1);
  std::copy(face.begin(), face.end(), font.lfFaceName);
  const COLORREF start_color = win32port::ToColorRef(start.Color());

  CHOOSEFONTW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = GetActiveWindow();
  dialog.lpLogFont = &font;
  dialog.Flags = CF_SCREENFONTS | CF_EFFECTS | CF_INITTOLOGFONTSTRUCT;
  dialog.rgbColors = start_color;
  if (!ChooseFontW(&dialog)) return false;

  choice = FontChoice{};
  choice.name = win32port::FromWide(font.lfFaceName);
  choice.points = dialog.iPointSize > 0 ? (dialog.iPointSize + 5) / 10 : 0;
  if (font.lfWeight >= FW_BOLD) choice.style |= fsBold;
  if (font.lfItalic) choice.style |= fsItalic;
  if (font.lfUnderline) choice.style |= fsUnderline;
  if (font.lfStrikeOut) choice.style |= fsStrikeOut;
  choice.charset = font.lfCharSet;
  choice.color = static_cast<TColor>(dialog.rgbColors);
  choice.face_changed = choice.name != start.Name();
  choice.script_changed = choice.charset != start.Charset();
  choice.color_changed = dialog.rgbColors != start_color;
  return true;
}

}  // namespace port
