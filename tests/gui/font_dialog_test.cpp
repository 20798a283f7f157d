// The font dialog: where it starts, what a confirmation returns, and that a
// cancel changes nothing.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QTest>

#include "framework/gui/Application.h"
#include "framework/gui/Dialogs.h"
#include "support/modal_watch.h"

namespace {

// Acts on the font dialog once it is up, then confirms or cancels it.
class FontDialogDriver {
 public:
  FontDialogDriver(std::function<void(QDialog*)> act, bool confirm)
      : watcher_([this, act, confirm](QWidget* widget) {
          auto* dialog = qobject_cast<QDialog*>(widget);
          if (dialog == nullptr || dialog->objectName() != "fontDialog") return;
          face = dialog->findChild<QComboBox*>("fontFace")->currentText();
          size = dialog->findChild<QComboBox*>("fontSize")->currentText();
          style = dialog->findChild<QComboBox*>("fontStyle")->currentIndex();
          act(dialog);
          auto* buttons = dialog->findChild<QDialogButtonBox*>("fontButtons");
          QPushButton* button =
              buttons->button(confirm ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel);
          QTimer::singleShot(0, button, [button] { button->click(); });
        }) {}

  QString face;
  QString size;
  int style = -1;

 private:
  ModalWatcher watcher_;
};

template <typename T>
T* Part(QDialog* dialog, const char* name) {
  T* part = dialog->findChild<T*>(name);
  EXPECT_NE(part, nullptr) << name;
  return part;
}

void SelectData(QComboBox* box, int data) {
  box->setCurrentIndex(box->findData(data));
}

class FontDialogTest : public ::testing::Test {
 protected:
  FontDialogTest() : dialog_(nullptr) {
    dialog_.Font()->SetName("Tahoma");
    dialog_.Font()->SetHeight(11);
  }
  TFontDialog dialog_;
};

TEST_F(FontDialogTest, StartsFromItsOwnFontAndCancelChangesNothing) {
  FontDialogDriver driver(
      [](QDialog* dialog) { Part<QComboBox>(dialog, "fontFace")->setCurrentText("Arial"); },
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
      [](QDialog* dialog) {
        auto* face = Part<QComboBox>(dialog, "fontFace");
        face->setCurrentText("Arial");
        face->setFocus();
        QTest::keyClick(face, Qt::Key_F4, Qt::AltModifier);
      },
      /*confirm=*/true);  // reached only if Alt+F4 left the dialog open
  EXPECT_FALSE(dialog_.Execute());
  EXPECT_EQ(dialog_.Font()->Name(), "Tahoma");
}

TEST_F(FontDialogTest, ConfirmedChoiceSetsFaceHeightStyleAndCharsetOfTheNewFace) {
  FontDialogDriver driver(
      [](QDialog* dialog) {
        Part<QComboBox>(dialog, "fontFace")->setCurrentText("DejaVu Serif");
        Part<QComboBox>(dialog, "fontSize")->setCurrentText("12");
        Part<QComboBox>(dialog, "fontStyle")->setCurrentIndex(3);  // bold italic
        Part<QCheckBox>(dialog, "fontUnderline")->setChecked(true);
        Part<QCheckBox>(dialog, "fontStrikeOut")->setChecked(true);
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
  FontDialogDriver driver(
      [](QDialog* dialog) { SelectData(Part<QComboBox>(dialog, "fontColor"), clRed); },
      /*confirm=*/true);
  ASSERT_TRUE(dialog_.Execute());
  EXPECT_EQ(dialog_.Font()->Charset(), DEFAULT_CHARSET);
  EXPECT_EQ(dialog_.Font()->Color(), clRed);
  EXPECT_EQ(dialog_.Font()->Name(), "Tahoma");
  EXPECT_EQ(dialog_.Font()->Height(), 11);
}

TEST_F(FontDialogTest, ChangedScriptAloneSetsTheCharset) {
  FontDialogDriver driver(
      [](QDialog* dialog) {
        SelectData(Part<QComboBox>(dialog, "fontScript"), EASTEUROPE_CHARSET);
      },
      /*confirm=*/true);
  ASSERT_TRUE(dialog_.Execute());
  EXPECT_EQ(dialog_.Font()->Charset(), EASTEUROPE_CHARSET);
}

TEST_F(FontDialogTest, NextOpeningStartsFromTheLastConfirmedChoice) {
  {
    FontDialogDriver driver(
        [](QDialog* dialog) {
          Part<QComboBox>(dialog, "fontFace")->setCurrentText("DejaVu Sans Mono");
          Part<QComboBox>(dialog, "fontSize")->setCurrentText("14");
          Part<QComboBox>(dialog, "fontStyle")->setCurrentIndex(2);
        },
        /*confirm=*/true);
    ASSERT_TRUE(dialog_.Execute());
  }
  FontDialogDriver again([](QDialog*) {}, /*confirm=*/false);
  EXPECT_FALSE(dialog_.Execute());
  EXPECT_EQ(again.face, "DejaVu Sans Mono");
  EXPECT_EQ(again.size, "14");
  EXPECT_EQ(again.style, 2);
}

TEST_F(FontDialogTest, UnreadableSizeKeepsTheHeight) {
  FontDialogDriver driver(
      [](QDialog* dialog) { Part<QComboBox>(dialog, "fontSize")->setCurrentText("big"); },
      /*confirm=*/true);
  ASSERT_TRUE(dialog_.Execute());
  EXPECT_EQ(dialog_.Font()->Height(), 11);
}

}  // namespace
