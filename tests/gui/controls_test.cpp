// The standard controls: list box entries, edits and their keys and focus,
// fonts, alignment and labels.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>
#include <string>
#include <vector>

#include "framework/core/Ansi.h"
#include "framework/gui/Application.h"
#include "support/modal_watch.h"

namespace {

class ControlsForm : public TForm {
 public:
  explicit ControlsForm(TComponent* owner) : TForm(owner) {
    BeginLoading();
    SetClientSize(300, 200);
    MakeField(List, "List");
    List->SetBounds(8, 8, 100, 100);
    MakeField(Edit, "Edit");
    Edit->SetBounds(120, 8, 100, 21);
    MakeField(Other, "Other");
    Other->SetBounds(120, 40, 100, 21);
    MakeField(Caption, "Caption");
    Caption->SetBounds(120, 80, 10, 10);
    EndLoading();
  }
  TListBox* List = nullptr;
  TEdit* Edit = nullptr;
  TEdit* Other = nullptr;
  TLabel* Caption = nullptr;
};

class ControlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    form_ = new ControlsForm(Application);
    form_->Show();
    QApplication::setActiveWindow(form_->Widget());
  }
  void TearDown() override { Application->ResetForTesting(); }

  // Types text as a keyboard with that layout would (QTest cannot type Cyrillic).
  void Type(QWidget* widget, const QString& text) {
    for (QChar c : text) {
      QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
      QApplication::sendEvent(widget, &press);
      QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(c));
      QApplication::sendEvent(widget, &release);
    }
  }

  QLineEdit* LineEdit(TEdit* edit) { return static_cast<QLineEdit*>(edit->Widget()); }

  ControlsForm* form_ = nullptr;
};

TEST_F(ControlsTest, ListKeepsEntriesInTheOrderAdded) {
  TListBoxItems* items = form_->List->Items();
  EXPECT_EQ(items->Add("b"), 0);
  EXPECT_EQ(items->Add("a"), 1);
  EXPECT_EQ(items->Add("b"), 2);
  ASSERT_EQ(items->Count(), 3);
  EXPECT_EQ(items->Strings(0), "b");
  EXPECT_EQ(items->Strings(1), "a");
  EXPECT_EQ(items->Strings(2), "b");
}

TEST_F(ControlsTest, DeleteWithABadIndexDoesNothing) {
  TListBoxItems* items = form_->List->Items();
  items->Add("one");
  items->Add("two");
  items->Delete(-1);
  items->Delete(2);
  items->Delete(1000);
  ASSERT_EQ(items->Count(), 2);
  items->Delete(0);
  ASSERT_EQ(items->Count(), 1);
  EXPECT_EQ(items->Strings(0), "two");
}

TEST_F(ControlsTest, FullListRaisesUnableToInsertAndAddsNothing) {
  form_->List->SetCapacity(2);
  TListBoxItems* items = form_->List->Items();
  items->Add("1");
  items->Add("2");
  try {
    items->Add("3");
    FAIL() << "a full list took another entry";
  } catch (const EOutOfResources& e) {
    EXPECT_EQ(e.Message(), "Unable to insert a line");
  }
  EXPECT_EQ(items->Count(), 2);
}

TEST_F(ControlsTest, ListEntriesKeepEveryByte) {
  std::string all;
  for (int byte = 1; byte < 256; ++byte) all.push_back(static_cast<char>(byte));
  form_->List->Items()->Add(all);
  EXPECT_EQ(form_->List->Items()->Strings(0), all);
}

TEST_F(ControlsTest, ItemIndexIsMinusOneWithoutASelection) {
  form_->List->Items()->Add("x");
  form_->List->Items()->Add("y");
  EXPECT_EQ(form_->List->ItemIndex(), -1);
  form_->List->SetItemIndex(1);
  EXPECT_EQ(form_->List->ItemIndex(), 1);
  form_->List->SetItemIndex(-1);
  EXPECT_EQ(form_->List->ItemIndex(), -1);
}

TEST_F(ControlsTest, ClickOnAnEntrySelectsIt) {
  form_->List->Items()->Add("x");
  form_->List->Items()->Add("y");
  auto* list = static_cast<QListWidget*>(form_->List->Widget());
  QRect second = list->visualItemRect(list->item(1));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, second.center());
  EXPECT_EQ(form_->List->ItemIndex(), 1);
}

TEST_F(ControlsTest, EditTextRoundTripsCyrillic) {
  form_->Edit->SetText(Ansi("Вася Пупкин"));
  EXPECT_EQ(form_->Edit->Text(), Ansi("Вася Пупкин"));
  EXPECT_EQ(LineEdit(form_->Edit)->text(), QString::fromUtf8("Вася Пупкин"));
}

TEST_F(ControlsTest, EditHasNoLengthLimit) {
  std::string long_text(100000, 'x');
  form_->Edit->SetText(long_text);
  EXPECT_EQ(form_->Edit->Text().size(), long_text.size());
}

TEST_F(ControlsTest, TypedCyrillicReachesKeyPressInTheCodePage) {
  std::string pressed;
  form_->Edit->SetOnKeyPress([&](TObject*, char& key) { pressed.push_back(key); });
  form_->Edit->SetFocus();
  Type(form_->Edit->Widget(), QString::fromUtf8("Жё"));
  EXPECT_EQ(pressed, Ansi("Жё"));
  EXPECT_EQ(form_->Edit->Text(), Ansi("Жё"));
}

TEST_F(ControlsTest, KeyPressCanSwallowOrReplaceACharacter) {
  form_->Edit->SetOnKeyPress([](TObject*, char& key) {
    if (key == 'x') key = '\0';
    if (key == 'a') key = 'b';
  });
  form_->Edit->SetFocus();
  QTest::keyClicks(form_->Edit->Widget(), "xaz");
  EXPECT_EQ(form_->Edit->Text(), "bz");
}

TEST_F(ControlsTest, EnterReachesKeyPressAsCarriageReturn) {
  std::vector<int> keys;
  form_->Edit->SetOnKeyPress([&](TObject*, char& key) { keys.push_back(key); });
  form_->Edit->SetFocus();
  QTest::keyClick(form_->Edit->Widget(), Qt::Key_Return);
  EXPECT_EQ(keys, std::vector<int>{13});
}

TEST_F(ControlsTest, KeyUpReportsEachReleaseWithItsVirtualKey) {
  std::vector<std::uint16_t> released;
  std::vector<TShiftState> shifts;
  form_->Edit->SetOnKeyUp([&](TObject*, std::uint16_t& key, TShiftState shift) {
    released.push_back(key);
    shifts.push_back(shift);
  });
  form_->Edit->SetFocus();
  QTest::keyClick(form_->Edit->Widget(), Qt::Key_1);
  QTest::keyClick(form_->Edit->Widget(), Qt::Key_A, Qt::ShiftModifier);
  QTest::keyClick(form_->Edit->Widget(), Qt::Key_Return);
  EXPECT_EQ(released, (std::vector<std::uint16_t>{'1', 'A', VK_SHIFT, VK_RETURN}));
  ASSERT_EQ(shifts.size(), 4u);
  EXPECT_EQ(shifts[1], ssShift);
  EXPECT_EQ(shifts[3], 0u);
}

TEST_F(ControlsTest, HandlerFocusSelectsTheWholeText) {
  form_->Edit->SetText("192");
  form_->Other->SetFocus();
  form_->Edit->SetFocus();
  EXPECT_TRUE(form_->Edit->Focused());
  EXPECT_EQ(LineEdit(form_->Edit)->selectedText(), "192");
}

TEST_F(ControlsTest, TabFocusSelectsTheWholeText) {
  form_->Other->SetText("abc");
  form_->Edit->SetFocus();
  QTest::keyClick(form_->Edit->Widget(), Qt::Key_Tab);
  ASSERT_TRUE(form_->Other->Focused());
  EXPECT_EQ(LineEdit(form_->Other)->selectedText(), "abc");
}

TEST_F(ControlsTest, MouseFocusDoesNotSelect) {
  form_->Other->SetText("abc");
  form_->Edit->SetFocus();
  QTest::mouseClick(form_->Other->Widget(), Qt::LeftButton);
  ASSERT_TRUE(form_->Other->Focused());
  EXPECT_EQ(LineEdit(form_->Other)->selectedText(), "");
}

TEST_F(ControlsTest, FocusOnAnInvisibleOrDisabledControlRaises) {
  form_->Edit->SetVisible(false);
  try {
    form_->Edit->SetFocus();
    FAIL() << "an invisible edit took the focus";
  } catch (const EInvalidOperation& e) {
    EXPECT_EQ(e.Message(), "Cannot focus a disabled or invisible window");
  }
  form_->Edit->SetVisible(true);
  form_->Other->SetEnabled(false);
  EXPECT_THROW(form_->Other->SetFocus(), EInvalidOperation);
}

TEST_F(ControlsTest, FontHeightIsExactPixels) {
  form_->Edit->Font()->SetName("Times New Roman");
  form_->Edit->Font()->SetHeight(13);
  EXPECT_EQ(form_->Edit->Widget()->font().pixelSize(), 13);
  EXPECT_EQ(form_->Edit->Widget()->font().family(), "Times New Roman");
  EXPECT_EQ(form_->Edit->Font()->Size(), 10);
  form_->Edit->Font()->SetSize(8);
  EXPECT_EQ(form_->Edit->Font()->Height(), 11);
}

TEST_F(ControlsTest, ControlsWithoutAnOwnFontFollowTheForm) {
  form_->Edit->Font()->SetHeight(20);  // now its own font
  form_->Font()->SetName("Courier New");
  form_->Font()->SetStyle(fsBold);
  EXPECT_TRUE(form_->Other->ParentFont());
  EXPECT_EQ(form_->Other->Font()->Name(), "Courier New");
  EXPECT_TRUE(form_->Other->Widget()->font().bold());
  EXPECT_FALSE(form_->Edit->ParentFont());
  EXPECT_EQ(form_->Edit->Font()->Name(), "Tahoma");
}

TEST_F(ControlsTest, FontAssignTakesTheWholeFont) {
  TFont source;
  source.SetName("Arial");
  source.SetHeight(16);
  source.SetStyle(fsItalic | fsUnderline | fsStrikeOut);
  source.SetCharset(RUSSIAN_CHARSET);
  source.SetColor(clRed);
  form_->Edit->Font()->Assign(&source);
  EXPECT_TRUE(form_->Edit->Font()->SameAs(source));
  QFont shown = form_->Edit->Widget()->font();
  EXPECT_TRUE(shown.italic() && shown.underline() && shown.strikeOut());
  EXPECT_EQ(form_->Edit->Widget()->palette().color(QPalette::Text), QColor(255, 0, 0));
}

TEST_F(ControlsTest, LabelSizesItselfToItsCaption) {
  form_->Caption->SetCaption(Ansi("Список IP собеседников:"));
  auto* label = static_cast<QLabel*>(form_->Caption->Widget());
  EXPECT_EQ(form_->Caption->Width(), label->sizeHint().width());
  EXPECT_GT(form_->Caption->Width(), 10);
  EXPECT_EQ(form_->Caption->Left(), 120);
  EXPECT_EQ(label->text(), QString::fromUtf8("Список IP собеседников:"));
  EXPECT_EQ(label->textFormat(), Qt::PlainText);
}

class AlignForm : public TForm {
 public:
  explicit AlignForm(TComponent* owner) : TForm(owner) {
    BeginLoading();
    SetClientSize(400, 300);
    MakeField(Bottom, "Bottom");
    Bottom->SetBounds(0, 0, 10, 30);
    Bottom->SetAlign(alBottom);
    MakeField(Right, "Right");
    Right->SetBounds(0, 0, 100, 10);
    Right->SetAlign(alRight);
    MakeField(Client, "Client");
    Client->SetAlign(alClient);
    EndLoading();
  }
  TPanel* Bottom = nullptr;
  TPanel* Right = nullptr;
  TMemo* Client = nullptr;
};

TEST(Alignment, BottomThenRightThenClientShareTheClientArea) {
  AlignForm form(nullptr);
  auto bounds = [](TControl* c) {
    return std::vector<int>{c->Left(), c->Top(), c->Width(), c->Height()};
  };
  EXPECT_EQ(bounds(form.Bottom), (std::vector<int>{0, 270, 400, 30}));
  EXPECT_EQ(bounds(form.Right), (std::vector<int>{300, 0, 100, 270}));
  EXPECT_EQ(bounds(form.Client), (std::vector<int>{0, 0, 300, 270}));
  EXPECT_EQ(form.Client->Widget()->geometry(), QRect(0, 0, 300, 270));
}

}  // namespace
