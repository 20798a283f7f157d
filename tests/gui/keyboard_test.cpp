// The keyboard at the controls, the same on every port: every key release in
// an edit reaches its OnKeyUp, also those that Windows reports as the menu's
// (Alt, F10, a key let go while Alt is held); the arrow keys on a button move
// the focus as Tab and Shift+Tab do. The keys come through the platform's own
// event path: posted to the queue and dispatched by the application's loop on
// Windows, key events on Qt.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "framework/gui/Application.h"

#ifdef _WIN32
#include "support/windows_api.h"
#else
#include <QApplication>
#include <QTest>
#endif

namespace {

constexpr std::uint16_t kAlt = 0x12;
constexpr std::uint16_t kF10 = 0x79;
constexpr std::uint16_t kLeft = 0x25;
constexpr std::uint16_t kUp = 0x26;
constexpr std::uint16_t kRight = 0x27;
constexpr std::uint16_t kDown = 0x28;

#ifdef _WIN32
// What the system posts for a key, to the window with the focus, as the
// application's loop then takes it.
void Post(UINT message, std::uint16_t key) {
  const bool up = message == WM_KEYUP || message == WM_SYSKEYUP;
  const bool alt = message == WM_SYSKEYDOWN || message == WM_SYSKEYUP;
  LPARAM flags = 1 | static_cast<LPARAM>(MapVirtualKeyW(key, MAPVK_VK_TO_VSC)) << 16;
  if (alt && key != VK_F10) flags |= LPARAM{1} << 29;
  if (up) flags |= LPARAM{3} << 30;
  PostMessageW(GetFocus(), message, key, flags);
  while (port::ProcessWaitingEvents()) {
  }
}

void UserActivates(TCustomForm* form) {
  SetForegroundWindow(form->Widget());
}

// A key pressed and let go, with Alt held around it when alt_held is set.
void UserPressesKey(std::uint16_t key, bool alt_held = false) {
  const bool menu_key = alt_held || key == kAlt || key == kF10;
  if (alt_held) Post(WM_SYSKEYDOWN, kAlt);
  Post(menu_key ? WM_SYSKEYDOWN : WM_KEYDOWN, key);
  Post(menu_key ? WM_SYSKEYUP : WM_KEYUP, key);
  // Alt let go after another key is an ordinary release.
  if (alt_held) Post(WM_KEYUP, kAlt);
}
#else
void UserActivates(TCustomForm* form) {
  QApplication::setActiveWindow(form->Widget());
}

void UserPressesKey(std::uint16_t key, bool alt_held = false) {
  Qt::Key qt_key = static_cast<Qt::Key>(key);  // digits and letters
  if (key == kAlt) qt_key = Qt::Key_Alt;
  if (key == kF10) qt_key = Qt::Key_F10;
  if (key >= kLeft && key <= kDown) qt_key = static_cast<Qt::Key>(Qt::Key_Left + key - kLeft);
  QTest::keyClick(QApplication::focusWidget(), qt_key, alt_held ? Qt::AltModifier : Qt::NoModifier);
}
#endif

// An edit and three buttons in a row, in that tab order. No system menu: on
// Windows Alt or F10 alone would open it and wait for the user.
class KeysForm : public TForm {
 public:
  explicit KeysForm(TComponent* owner) : TForm(owner) {
    BeginLoading();
    SetBorderIcons(0);
    SetClientSize(320, 80);
    MakeField(Field, "Field");
    Field->SetBounds(8, 8, 100, 21);
    MakeField(First, "First");
    First->SetBounds(8, 40, 75, 25);
    MakeField(Second, "Second");
    Second->SetBounds(96, 40, 75, 25);
    MakeField(Third, "Third");
    Third->SetBounds(184, 40, 75, 25);
    EndLoading();
  }
  TEdit* Field = nullptr;
  TButton* First = nullptr;
  TButton* Second = nullptr;
  TButton* Third = nullptr;
};

class KeyboardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    form_ = new KeysForm(Application);
    form_->Show();
    UserActivates(form_);
  }
  void TearDown() override { Application->ResetForTesting(); }

  KeysForm* form_ = nullptr;
};

struct Release {
  const char* what;
  std::uint16_t key;
  bool alt_held;
};

TEST_F(KeyboardTest, EveryKeyReleaseInAnEditReachesOnKeyUp) {
  const Release cases[] = {
      {"a digit", '1', false},
      {"Alt alone", kAlt, false},
      {"F10", kF10, false},
      {"a digit let go while Alt is held", '1', true},
  };
  for (const Release& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::uint16_t> released;
    form_->Field->SetOnKeyUp(
        [&](TObject*, std::uint16_t& key, TShiftState) { released.push_back(key); });
    form_->Field->SetFocus();
    UserPressesKey(c.key, c.alt_held);
    EXPECT_NE(std::find(released.begin(), released.end(), c.key), released.end());
  }
}

TEST_F(KeyboardTest, ArrowKeysOnAButtonMoveTheFocusAsTabAndShiftTab) {
  struct Arrow {
    const char* what;
    std::uint16_t key;
    TButton* KeysForm::*focused;
  };
  const Arrow cases[] = {
      {"Left goes back", kLeft, &KeysForm::First},
      {"Up goes back", kUp, &KeysForm::First},
      {"Right goes on", kRight, &KeysForm::Third},
      {"Down goes on", kDown, &KeysForm::Third},
  };
  for (const Arrow& c : cases) {
    SCOPED_TRACE(c.what);
    form_->Second->SetFocus();
    UserPressesKey(c.key);
    EXPECT_TRUE((form_->*c.focused)->Focused());
  }
  // Back from the first button into the edit, whose text is then selected
  // whole as after Shift+Tab: what is typed replaces it.
  form_->Field->SetText("old");
  form_->First->SetFocus();
  UserPressesKey(kLeft);
  ASSERT_TRUE(form_->Field->Focused());
  UserPressesKey('7');
  EXPECT_EQ(form_->Field->Text(), "7");
}

}  // namespace
