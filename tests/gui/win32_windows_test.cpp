// The Win32 port's top-level windows where Wine does not show what Windows
// does. Wine shows the scaling at start (LogPixels, the end-to-end tests) but
// never changes a window's DPI, so the change comes here as Windows sends it
// when a window moves to a monitor of another density: WM_DPICHANGED with the
// new DPI and a suggested rectangle. And Wine's window manager integration
// hands the activation of a disabled window to its dialog itself; Windows
// activates the window (SetForegroundWindow, SetActiveWindow), and the form
// must pass it on.
#include <gtest/gtest.h>

#include "framework/gui/Application.h"

#include "support/windows_api.h"

namespace {

// No frame: the system would measure a caption at its own DPI, not the new one.
class PlainForm : public TForm {
 public:
  explicit PlainForm(TComponent* owner) : TForm(owner) {
    BeginLoading();
    SetBorderStyle(bsNone);
    SetClientSize(200, 100);
    Font()->SetName("Tahoma");
    Font()->SetHeight(11);
    MakeField(Field, "Field");
    Field->SetBounds(8, 8, 100, 21);
    EndLoading();
  }
  TEdit* Field = nullptr;
};

RECT PlaceInParent(HWND control) {
  RECT place;
  GetWindowRect(control, &place);
  MapWindowPoints(HWND_DESKTOP, GetParent(control), reinterpret_cast<POINT*>(&place), 2);
  return place;
}

TEST(DpiChange, LaysTheFormOutAgainFromTheSameUnits) {
  struct Layout {
    int dpi;
    SIZE client;
    RECT field;
    LONG font_height;  // Tahoma 8 points
  };
  const Layout cases[] = {
      {144, {300, 150}, {12, 12, 162, 44}, -16},
      {120, {250, 125}, {10, 10, 135, 36}, -13},
      {96, {200, 100}, {8, 8, 108, 29}, -11},
  };
  PlainForm form(nullptr);
  form.Show();
  for (const Layout& c : cases) {
    SCOPED_TRACE(c.dpi);
    RECT suggested{40 + c.dpi, 30 + c.dpi, 0, 0};
    SendMessageW(form.Widget(), WM_DPICHANGED, MAKEWPARAM(c.dpi, c.dpi),
                 reinterpret_cast<LPARAM>(&suggested));

    RECT frame, client;
    GetWindowRect(form.Widget(), &frame);
    GetClientRect(form.Widget(), &client);
    EXPECT_EQ(frame.left, suggested.left);
    EXPECT_EQ(frame.top, suggested.top);
    EXPECT_EQ(client.right, c.client.cx);
    EXPECT_EQ(client.bottom, c.client.cy);
    const RECT field = PlaceInParent(form.Field->Widget());
    EXPECT_EQ(field.left, c.field.left);
    EXPECT_EQ(field.top, c.field.top);
    EXPECT_EQ(field.right, c.field.right);
    EXPECT_EQ(field.bottom, c.field.bottom);
    LOGFONTW font{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(form.Field->Widget(), WM_GETFONT, 0, 0)),
               sizeof font, &font);
    EXPECT_EQ(font.lfHeight, c.font_height);

    // The framework reads back what it set.
    const port::Rect units = port::Bounds(form.Field->Widget());
    EXPECT_EQ(units.left, 8);
    EXPECT_EQ(units.top, 8);
    EXPECT_EQ(units.width, 100);
    EXPECT_EQ(units.height, 21);
    EXPECT_EQ(port::Bounds(form.Widget()).width, 200);
    EXPECT_EQ(port::Bounds(form.Widget()).height, 100);
  }
}

class OneFieldForm : public TForm {
 public:
  explicit OneFieldForm(TComponent* owner) : TForm(owner) {
    BeginLoading();
    SetClientSize(200, 100);
    MakeField(Field, "Field");
    Field->SetBounds(8, 8, 100, 21);
    EndLoading();
  }
  TEdit* Field = nullptr;
};

TEST(Activation, OfAFormDisabledByAModalDialogGoesOnToTheDialog) {
  auto* window = new OneFieldForm(Application);
  auto* dialog = new OneFieldForm(Application);
  window->Show();
  window->Field->SetFocus();
  // What RunModal does around its loop.
  port::BeginModal(dialog->Widget(), window->Widget());
  dialog->Show();
  dialog->Field->SetFocus();

  SetActiveWindow(window->Widget());
  while (port::ProcessWaitingEvents()) {
  }
  EXPECT_EQ(GetActiveWindow(), dialog->Widget());
  EXPECT_EQ(GetFocus(), dialog->Field->Widget());

  port::EndModal(dialog->Widget());
  Application->ResetForTesting();
}

}  // namespace
