// The font dialog: where it starts, what a confirmation returns, and that a
// cancel changes nothing. The same tests drive the port's dialog on either
// platform: the framework's Qt dialog on Linux, the system's ChooseFont on
// Windows, through FontDialogPage.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "framework/gui/Application.h"
#include "framework/gui/Dialogs.h"

#ifdef _WIN32
#include "support/windows_api.h"
#include <dlgs.h>
#else
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QTest>

#include "support/modal_watch.h"
#endif

namespace {

// The open font dialog, as its user works it. Texts are UTF-8.
class FontDialogPage;

#ifdef _WIN32
std::string Utf8(const std::wstring& text) {
  std::string utf8(
      static_cast<std::size_t>(WideCharToMultiByte(
          CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr)),
      '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(),
                      static_cast<int>(utf8.size()), nullptr, nullptr);
  return utf8;
}

std::wstring Wide(const std::string& utf8) {
  std::wstring text(static_cast<std::size_t>(MultiByteToWideChar(
                        CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0)),
                    L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), text.data(),
                      static_cast<int>(text.size()));
  return text;
}

// ChooseFont's dialog, by its controls' identifiers: cmb1 face, cmb2 style,
// cmb3 size, cmb4 colour and cmb5 script (each entry carrying its colour or
// character set), chx1 strike-out, chx2 underline.
class FontDialogPage {
 public:
  explicit FontDialogPage(HWND dialog) : dialog_(dialog) {}

  std::string Face() const { return Text(cmb1); }
  std::string Size() const { return Text(cmb3); }
  int Style() const { return static_cast<int>(Send(cmb2, CB_GETCURSEL, 0, 0)); }

  void ChooseFace(const std::string& face) {
    Select(cmb1, Send(cmb1, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                      reinterpret_cast<LPARAM>(Wide(face).c_str())));
  }
  void TypeSize(const std::string& points) {
    SetDlgItemTextW(dialog_, cmb3, Wide(points).c_str());
    Notify(cmb3, CBN_EDITCHANGE);
  }
  // Regular, italic, bold, bold italic.
  void ChooseStyle(int index) { Select(cmb2, index); }
  // The style at index made to stand for a face of that weight, as the
  // dialog lists the weights of a family that has more than regular and bold
  // (semibold, 600, for one).
  void ChooseStyleOfWeight(int index, int weight) {
    Send(cmb2, CB_SETITEMDATA, static_cast<WPARAM>(index), MAKELONG(weight, 0));
    Select(cmb2, index);
  }
  void CheckUnderline() { Check(chx2); }
  void CheckStrikeOut() { Check(chx1); }
  void ChooseColor(TColor color) { Select(cmb4, Find(cmb4, static_cast<LPARAM>(color))); }
  void ChooseScript(TFontCharset charset) { Select(cmb5, Find(cmb5, charset)); }
  void PressAltF4() { PostMessageW(dialog_, WM_SYSCOMMAND, SC_CLOSE, 0); }
  void Press(bool confirm) { PostMessageW(dialog_, WM_COMMAND, confirm ? IDOK : IDCANCEL, 0); }

 private:
  LRESULT Send(int control, UINT message, WPARAM wparam, LPARAM lparam) const {
    return SendDlgItemMessageW(dialog_, control, message, wparam, lparam);
  }
  std::string Text(int control) const {
    wchar_t text[LF_FACESIZE] = L"";
    GetDlgItemTextW(dialog_, control, text, LF_FACESIZE);
    return Utf8(text);
  }
  void Notify(int control, WORD code) {
    SendMessageW(dialog_, WM_COMMAND, MAKEWPARAM(control, code),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog_, control)));
  }
  LRESULT Find(int control, LPARAM data) const {
    for (LRESULT i = 0; i < Send(control, CB_GETCOUNT, 0, 0); ++i) {
      if (Send(control, CB_GETITEMDATA, static_cast<WPARAM>(i), 0) == data) return i;
    }
    ADD_FAILURE() << "no entry " << data << " in " << control;
    return CB_ERR;
  }
  void Select(int control, LRESULT index) {
    ASSERT_NE(index, CB_ERR);
    Send(control, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    Notify(control, CBN_SELCHANGE);
  }
  void Check(int control) {
    Send(control, BM_SETCHECK, BST_CHECKED, 0);
    Notify(control, BN_CLICKED);
  }

  HWND dialog_;
};

// Acts on the font dialog once it is up, then confirms or cancels it. The
// dialog runs its own loop, which dispatches the thread's timer.
class FontDialogDriver {
 public:
  FontDialogDriver(std::function<void(FontDialogPage&)> act, bool confirm)
      : act_(std::move(act)), confirm_(confirm) {
    current_ = this;
    timer_ = SetTimer(nullptr, 0, 10, &Tick);
  }
  ~FontDialogDriver() {
    KillTimer(nullptr, timer_);
    current_ = nullptr;
  }
  FontDialogDriver(const FontDialogDriver&) = delete;
  FontDialogDriver& operator=(const FontDialogDriver&) = delete;

  std::string face;
  std::string size;
  int style = -1;

 private:
  static BOOL CALLBACK FindDialog(HWND window, LPARAM found) {
    wchar_t name[16];
    if (IsWindowVisible(window) && GetClassNameW(window, name, 16) != 0 &&
        lstrcmpW(name, L"#32770") == 0) {
      *reinterpret_cast<HWND*>(found) = window;
      return FALSE;
    }
    return TRUE;
  }
  // Reads and works the dialog at one tick, and presses its button at a later
  // one if it is still open: timers come once the dialog has handled what the
  // work posted, so a close that the work started has ended it by then.
  static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    FontDialogDriver* driver = current_;
    HWND dialog = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindDialog, reinterpret_cast<LPARAM>(&dialog));
    if (driver == nullptr || dialog == nullptr || driver->pressed_) return;
    FontDialogPage page(dialog);
    if (driver->acted_) {
      driver->pressed_ = true;
      page.Press(driver->confirm_);
      return;
    }
    driver->acted_ = true;
    driver->face = page.Face();
    driver->size = page.Size();
    driver->style = page.Style();
    driver->act_(page);
  }

  static inline FontDialogDriver* current_ = nullptr;
  std::function<void(FontDialogPage&)> act_;
  bool confirm_;
  UINT_PTR timer_;
  bool acted_ = false;
  bool pressed_ = false;
};
#else
// The framework's own dialog, by its parts' object names.
class FontDialogPage {
 public:
  explicit FontDialogPage(QDialog* dialog) : dialog_(dialog) {}

  std::string Face() const { return Part<QComboBox>("fontFace")->currentText().toStdString(); }
  std::string Size() const { return Part<QComboBox>("fontSize")->currentText().toStdString(); }
  int Style() const { return Part<QComboBox>("fontStyle")->currentIndex(); }

  void ChooseFace(const std::string& face) {
    Part<QComboBox>("fontFace")->setCurrentText(QString::fromStdString(face));
  }
  void TypeSize(const std::string& points) {
    Part<QComboBox>("fontSize")->setCurrentText(QString::fromStdString(points));
  }
  void ChooseStyle(int index) { Part<QComboBox>("fontStyle")->setCurrentIndex(index); }
  void CheckUnderline() { Part<QCheckBox>("fontUnderline")->setChecked(true); }
  void CheckStrikeOut() { Part<QCheckBox>("fontStrikeOut")->setChecked(true); }
  void ChooseColor(TColor color) { Select("fontColor", color); }
  void ChooseScript(TFontCharset charset) { Select("fontScript", charset); }
  void PressAltF4() {
    auto* face = Part<QComboBox>("fontFace");
    face->setFocus();
    QTest::keyClick(face, Qt::Key_F4, Qt::AltModifier);
  }
  void Press(bool confirm) {
    QPushButton* button = Part<QDialogButtonBox>("fontButtons")
                              ->button(confirm ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel);
    QTimer::singleShot(0, button, [button] { button->click(); });
  }

 private:
  template <typename T>
  T* Part(const char* name) const {
    T* part = dialog_->findChild<T*>(name);
    EXPECT_NE(part, nullptr) << name;
    return part;
  }
  void Select(const char* name, int data) {
    auto* box = Part<QComboBox>(name);
    box->setCurrentIndex(box->findData(data));
  }

  QDialog* dialog_;
};

// Acts on the font dialog once it is up, then confirms or cancels it.
class FontDialogDriver {
 public:
  FontDialogDriver(std::function<void(FontDialogPage&)> act, bool confirm)
      : watcher_([this, act, confirm](QWidget* widget) {
          auto* dialog = qobject_cast<QDialog*>(widget);
          if (dialog == nullptr || dialog->objectName() != "fontDialog") return;
          FontDialogPage page(dialog);
          face = page.Face();
          size = page.Size();
          style = page.Style();
          act(page);
          page.Press(confirm);
        }) {}

  std::string face;
  std::string size;
  int style = -1;

 private:
  ModalWatcher watcher_;
};
#endif

class FontDialogTest : public ::testing::Test {
 protected:
  FontDialogTest() : dialog_(nullptr) {
    dialog_.Font()->SetName("Tahoma");
    dialog_.Font()->SetHeight(11);
  }
  TFontDialog dialog_;
};

TEST_F(FontDialogTest, StartsFromItsOwnFontAndCancelChangesNothing) {
  FontDialogDriver driver([](FontDialogPage& page) { page.ChooseFace("DejaVu Serif"); },
                          /*confirm=*/false);
  EXPECT_FALSE(dialog_.Execute());
  EXPECT_EQ(driver.face, "Tahoma");
  EXPECT_EQ(driver.size, "8");
  EXPECT_EQ(driver.style, 0);
  EXPECT_EQ(dialog_.Font()->Name(), "Tahoma");
  EXPECT_EQ(dialog_.Font()->Height(), 11);
}

TEST_F(FontDialogTest, AltF4CancelsItAsItsCloseBoxDoes) {
  FontDialogDriver driver(
      [](FontDialogPage& page) {
        page.ChooseFace("DejaVu Serif");
        page.PressAltF4();
      },
      /*confirm=*/true);  // reached only if Alt+F4 left the dialog open
  EXPECT_FALSE(dialog_.Execute());
  EXPECT_EQ(dialog_.Font()->Name(), "Tahoma");
}

TEST_F(FontDialogTest, ConfirmedChoiceSetsFaceHeightStyleAndCharsetOfTheNewFace) {
  FontDialogDriver driver(
      [](FontDialogPage& page) {
        page.ChooseFace("DejaVu Serif");
        page.TypeSize("12");
        page.ChooseStyle(3);  // bold italic
        page.CheckUnderline();
        page.CheckStrikeOut();
      },
      /*confirm=*/true);
  ASSERT_TRUE(dialog_.Execute());
  TFont* font = dialog_.Font();
  EXPECT_EQ(font->Name(), "DejaVu Serif");
  EXPECT_EQ(font->Height(), 16);
  EXPECT_EQ(font->Style(), fsBold | fsItalic | fsUnderline | fsStrikeOut);
  EXPECT_EQ(font->Charset(), RUSSIAN_CHARSET);  // the face changed
  EXPECT_EQ(font->Color(), clWindowText);       // the colour did not
}

TEST_F(FontDialogTest, UntouchedFaceAndScriptKeepTheCharsetAndAChangedColourIsTaken) {
  FontDialogDriver driver([](FontDialogPage& page) { page.ChooseColor(clRed); },
                          /*confirm=*/true);
  ASSERT_TRUE(dialog_.Execute());
  EXPECT_EQ(dialog_.Font()->Charset(), DEFAULT_CHARSET);
  EXPECT_EQ(dialog_.Font()->Color(), clRed);
  EXPECT_EQ(dialog_.Font()->Name(), "Tahoma");
  EXPECT_EQ(dialog_.Font()->Height(), 11);
}

TEST_F(FontDialogTest, ChangedScriptAloneSetsTheCharset) {
  FontDialogDriver driver([](FontDialogPage& page) { page.ChooseScript(EASTEUROPE_CHARSET); },
                          /*confirm=*/true);
  ASSERT_TRUE(dialog_.Execute());
  EXPECT_EQ(dialog_.Font()->Charset(), EASTEUROPE_CHARSET);
}

TEST_F(FontDialogTest, NextOpeningStartsFromTheLastConfirmedChoice) {
  {
    FontDialogDriver driver(
        [](FontDialogPage& page) {
          page.ChooseFace("DejaVu Sans Mono");
          page.TypeSize("14");
          page.ChooseStyle(2);
        },
        /*confirm=*/true);
    ASSERT_TRUE(dialog_.Execute());
  }
  FontDialogDriver again([](FontDialogPage&) {}, /*confirm=*/false);
  EXPECT_FALSE(dialog_.Execute());
  EXPECT_EQ(again.face, "DejaVu Sans Mono");
  EXPECT_EQ(again.size, "14");
  EXPECT_EQ(again.style, 2);
}

#ifdef _WIN32
TEST_F(FontDialogTest, AWeightAboveRegularIsBold) {
  FontDialogDriver driver([](FontDialogPage& page) { page.ChooseStyleOfWeight(2, FW_SEMIBOLD); },
                          /*confirm=*/true);
  ASSERT_TRUE(dialog_.Execute());
  EXPECT_EQ(dialog_.Font()->Style(), fsBold);
}
#else
// The system's dialog does not let the user confirm a size that is no number.
TEST_F(FontDialogTest, UnreadableSizeKeepsTheHeight) {
  FontDialogDriver driver([](FontDialogPage& page) { page.TypeSize("big"); }, /*confirm=*/true);
  ASSERT_TRUE(dialog_.Execute());
  EXPECT_EQ(dialog_.Font()->Height(), 11);
}
#endif

}  // namespace
