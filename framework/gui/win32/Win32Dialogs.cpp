// The Win32 port's standard dialogs: the system's message box and font dialog
// (with the colour and the effects).
#include <algorithm>

#include "framework/core/SysUtils.h"
#include "framework/gui/win32/Win32Port_p.h"

// After the system's headers: the font dialog's control identifiers.
#include <dlgs.h>

namespace {

// The face and the script that the font dialog shows when it opens: the
// script is the one the dialog picks for the face (a font of DEFAULT_CHARSET
// opens at a real one), so the user changed the script only if the dialog
// ends on another.
struct ShownAtStart {
  std::wstring face;
  int charset = -1;  // -1: not known
};

UINT_PTR CALLBACK NoteShownAtStart(HWND dialog, UINT message, WPARAM /*wparam*/, LPARAM lparam) {
  if (message != WM_INITDIALOG) return FALSE;
  auto& shown =
      *reinterpret_cast<ShownAtStart*>(reinterpret_cast<const CHOOSEFONTW*>(lparam)->lCustData);
  wchar_t face[LF_FACESIZE] = L"";
  GetDlgItemTextW(dialog, cmb1, face, LF_FACESIZE);
  shown.face = face;
  const LRESULT script = SendDlgItemMessageW(dialog, cmb5, CB_GETCURSEL, 0, 0);
  if (script != CB_ERR) {
    const LRESULT charset = SendDlgItemMessageW(dialog, cmb5, CB_GETITEMDATA, script, 0);
    if (charset != CB_ERR) shown.charset = static_cast<int>(charset & 0xFF);
  }
  return TRUE;  // the dialog's own focus
}

}  // namespace

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

  ShownAtStart shown;
  CHOOSEFONTW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = GetActiveWindow();
  dialog.lpLogFont = &font;
  dialog.Flags = CF_SCREENFONTS | CF_EFFECTS | CF_INITTOLOGFONTSTRUCT | CF_ENABLEHOOK;
  dialog.rgbColors = start_color;
  dialog.lpfnHook = NoteShownAtStart;
  dialog.lCustData = reinterpret_cast<LPARAM>(&shown);
  static const auto choose_font =
      win32port::SystemFunction<decltype(&ChooseFontW)>(L"comdlg32.dll", "ChooseFontW");
  if (choose_font == nullptr) throw EOSError(static_cast<int>(GetLastError()));
  if (!choose_font(&dialog)) return false;

  choice = FontChoice{};
  choice.name = win32port::FromWide(font.lfFaceName);
  choice.points = dialog.iPointSize > 0 ? (dialog.iPointSize + 5) / 10 : 0;
  // Semibold (600) and medium (500) faces are bold too.
  if (font.lfWeight > FW_NORMAL) choice.style |= fsBold;
  if (font.lfItalic) choice.style |= fsItalic;
  if (font.lfUnderline) choice.style |= fsUnderline;
  if (font.lfStrikeOut) choice.style |= fsStrikeOut;
  choice.charset = font.lfCharSet;
  choice.color = static_cast<TColor>(dialog.rgbColors);
  choice.face_changed = lstrcmpiW(font.lfFaceName, shown.face.c_str()) != 0;
  choice.script_changed = shown.charset >= 0 && font.lfCharSet != shown.charset;
  choice.color_changed = dialog.rgbColors != start_color;
  return true;
}

}  // namespace port
