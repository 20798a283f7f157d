// The new-address dialog, driven as a person would: the chat window's add
// button pressed with the mouse, keys and clicks delivered through the
// dialog's window (so they reach whichever field has the focus, and modality
// applies), and the address list read back afterwards.
#include "app/IPadd.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

#include "app/chat.h"
#include "framework/core/Ansi.h"
#include "framework/core/Threads.h"
#include "support/modal_watch.h"

namespace {

QWindow* WindowOf(TControl* control) {
  return control->Widget()->window()->windowHandle();
}

// A mouse click on a control as the window system delivers it.
void ClickThroughWindow(TControl* control) {
  QWidget* widget = control->Widget();
  QPoint at = widget->mapTo(widget->window(), widget->rect().center());
  QTest::mouseClick(WindowOf(control), Qt::LeftButton, Qt::NoModifier, at);
}

class NewAddressDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Application->ResetForTesting();
    Application->MakeForm(Form1);
    Application->MakeForm(Form2);
    Form1->Show();
    QApplication::setActiveWindow(Form1->Widget());
  }
  void TearDown() override {
    Application->ResetForTesting();
    Form1 = nullptr;
    Form2 = nullptr;
  }

  // Presses "Добавить" with the mouse and, once the dialog is up and active,
  // runs act inside its modal loop. Returns when the dialog has closed; a
  // dialog that act leaves open is closed after a deadline, as a failure.
  void UseDialog(const std::function<void()>& act) {
    bool acted = false;
    ModalWatcher watcher(
        [&](QWidget*) {
          acted = true;
          act();
        },
        [](QWidget* widget) {
          return widget == Form2->Widget() && QApplication::activeWindow() == widget;
        });
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, [] {
      ADD_FAILURE() << "the dialog was still open at the deadline";
      Form2->CloseForm();
    });
    deadline.start(10000);
    ClickThroughWindow(Form1->BitBtn1);
    EXPECT_TRUE(acted);
    EXPECT_FALSE(Form2->Visible());
    EXPECT_FALSE(Form2->Widget()->isVisible());
    EXPECT_TRUE(Form1->Enabled());
  }

  // Keys as the keyboard sends them: to the focused control of the dialog.
  static void Type(const std::string& text) {
    for (char c : text) QTest::keyClick(WindowOf(Form2), c);
  }
  static void Press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::keyClick(WindowOf(Form2), key, modifiers);
  }

  static std::vector<std::string> Entries() {
    std::vector<std::string> entries;
    TListBoxItems* items = Form1->ListBox1->Items();
    for (int i = 0; i < items->Count(); ++i) entries.push_back(items->Strings(i));
    return entries;
  }
};

using List = std::vector<std::string>;

TEST_F(NewAddressDialogTest, LayoutFollowsTheResource) {
  QWidget* window = Form2->Widget();
  EXPECT_EQ(window->windowTitle(), QString::fromUtf8("Новый IP"));
  EXPECT_EQ(window->size(), QSize(202, 111));
  EXPECT_EQ(window->minimumSize(), QSize(202, 111));
  EXPECT_EQ(window->maximumSize(), QSize(202, 111));
  Qt::WindowFlags flags = window->windowFlags();
  EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
  EXPECT_EQ(Form2->BorderStyle(), bsDialog);
  EXPECT_EQ(Form2->Position(), poScreenCenter);

  struct Placement {
    TControl* control;
    QRect rect;
  };
  for (const Placement& p : std::vector<Placement>{
           {Form2->Edit1, {24, 32, 33, 21}},
           {Form2->Edit2, {64, 32, 33, 21}},
           {Form2->Edit3, {104, 32, 33, 21}},
           {Form2->Edit4, {144, 32, 33, 21}},
           {Form2->BitBtn1, {24, 72, 75, 25}},
           {Form2->BitBtn2, {104, 72, 75, 25}},
       }) {
    SCOPED_TRACE(p.control->Name());
    EXPECT_EQ(p.control->Widget()->geometry(), p.rect);
    EXPECT_EQ(p.control->Widget()->font().family(), "Tahoma");
    EXPECT_EQ(p.control->Widget()->font().pixelSize(), 11);
  }
  EXPECT_EQ(Form2->Label1->Widget()->pos(), QPoint(24, 16));
  EXPECT_EQ(static_cast<QLabel*>(Form2->Label1->Widget())->text(), QString::fromUtf8("Новый IP:"));
  EXPECT_EQ(static_cast<QPushButton*>(Form2->BitBtn1->Widget())->text(), "OK");
  EXPECT_EQ(static_cast<QPushButton*>(Form2->BitBtn2->Widget())->text(),
            QString::fromUtf8("Отмена"));
  EXPECT_EQ(Form2->BitBtn1->ModalResult(), mrOk);
  EXPECT_EQ(Form2->BitBtn2->ModalResult(), mrCancel);
  for (TBitBtn* button : {Form2->BitBtn1, Form2->BitBtn2}) {
    auto* push = static_cast<QPushButton*>(button->Widget());
    EXPECT_FALSE(push->isDefault());
    EXPECT_FALSE(push->autoDefault());
  }
  for (TEdit* edit : {Form2->Edit1, Form2->Edit2, Form2->Edit3, Form2->Edit4}) {
    auto* line = static_cast<QLineEdit*>(edit->Widget());
    EXPECT_TRUE(line->validator() == nullptr && line->inputMask().isEmpty()) << edit->Name();
  }
  std::vector<TWinControl*> tab_order = {Form2->Edit1, Form2->Edit2,   Form2->Edit3,
                                         Form2->Edit4, Form2->BitBtn1, Form2->BitBtn2};
  EXPECT_EQ(Form2->TabList(), tab_order);
}

TEST_F(NewAddressDialogTest, TabRunsThroughTheFieldsAndButtonsAndBack) {
  std::vector<TWinControl*> seen;
  UseDialog([&] {
    seen.push_back(Form2->ActiveControl());
    for (int i = 0; i < 6; ++i) {
      Press(Qt::Key_Tab);
      seen.push_back(Form2->ActiveControl());
    }
    ClickThroughWindow(Form2->BitBtn2);
  });
  std::vector<TWinControl*> expected = {Form2->Edit1,   Form2->Edit2,   Form2->Edit3, Form2->Edit4,
                                        Form2->BitBtn1, Form2->BitBtn2, Form2->Edit1};
  EXPECT_EQ(seen, expected);
}

TEST_F(NewAddressDialogTest, TypingFourOctetsMovesOnByItselfAndEnterAddsTheAddress) {
  UseDialog([] {
    EXPECT_EQ(Form2->ActiveControl(), Form2->Edit1);
    Type("192");
    EXPECT_EQ(Form2->ActiveControl(), Form2->Edit2);
    Type("168");
    EXPECT_EQ(Form2->ActiveControl(), Form2->Edit3);
    Type("0");
    EXPECT_EQ(Form2->ActiveControl(), Form2->Edit3);
    Press(Qt::Key_Tab);
    EXPECT_EQ(Form2->ActiveControl(), Form2->Edit4);
    Type("15");
    EXPECT_EQ(Form2->ActiveControl(), Form2->Edit4);
    Press(Qt::Key_Return);
  });
  EXPECT_EQ(Entries(), List{"192.168.0.15"});
}

TEST_F(NewAddressDialogTest, FocusMovesOnTheReleaseOfTheThirdKeyNotOnItsPress) {
  UseDialog([] {
    Type("12");
    QTest::keyPress(WindowOf(Form2), '3');
    EXPECT_EQ(Form2->ActiveControl(), Form2->Edit1);
    EXPECT_EQ(Form2->Edit1->Text(), "123");
    QTest::keyRelease(WindowOf(Form2), '3');
    EXPECT_EQ(Form2->ActiveControl(), Form2->Edit2);
    ClickThroughWindow(Form2->BitBtn2);
  });
  EXPECT_TRUE(Entries().empty());
}

TEST_F(NewAddressDialogTest, ThreeCharactersInEachFieldReachOkWhereSpacePressesIt) {
  UseDialog([] {
    Type("111222333444");
    EXPECT_EQ(Form2->ActiveControl(), Form2->BitBtn1);
    Press(Qt::Key_Space);
  });
  EXPECT_EQ(Entries(), List{"111.222.333.444"});
}

TEST_F(NewAddressDialogTest, EnterInTheFirstThreeFieldsDoesNothingAndInTheLastConfirmsEmpty) {
  UseDialog([] {
    for (TEdit* field : {Form2->Edit1, Form2->Edit2, Form2->Edit3}) {
      SCOPED_TRACE(field->Name());
      EXPECT_EQ(Form2->ActiveControl(), field);
      Press(Qt::Key_Return);
      QApplication::processEvents();
      EXPECT_TRUE(Form2->Visible());
      EXPECT_EQ(Form2->ModalResult(), mrNone);
      EXPECT_EQ(Form2->ActiveControl(), field);
      Press(Qt::Key_Tab);
    }
    EXPECT_TRUE(Entries().empty());
    EXPECT_EQ(Form2->ActiveControl(), Form2->Edit4);
    Press(Qt::Key_Return);
  });
  EXPECT_EQ(Entries(), List{"..."});
}

TEST_F(NewAddressDialogTest, OkWithEmptyFieldsAddsThreeDots) {
  UseDialog([] { ClickThroughWindow(Form2->BitBtn1); });
  EXPECT_EQ(Entries(), List{"..."});
}

TEST_F(NewAddressDialogTest, LettersAndDotsAreKeptAsTyped) {
  UseDialog([] {
    Type("a");
    Press(Qt::Key_Tab);
    Type("b.c");
    EXPECT_EQ(Form2->ActiveControl(), Form2->Edit3);
    Type("d");
    Press(Qt::Key_Tab);
    Type("e");
    Press(Qt::Key_Return);
  });
  EXPECT_EQ(Entries(), List{"a.b.c.d.e"});
}

TEST_F(NewAddressDialogTest, KeysPressedBeforeTheFirstIsReleasedLandInTheSameField) {
  UseDialog([] {
    for (char c : std::string("1234")) QTest::keyPress(WindowOf(Form2), c);
    EXPECT_EQ(Form2->ActiveControl(), Form2->Edit1);
    QTest::keyRelease(WindowOf(Form2), '1');
    EXPECT_EQ(Form2->ActiveControl(), Form2->Edit2);
    // The other releases reach the empty second field, which keeps the focus.
    for (char c : std::string("234")) QTest::keyRelease(WindowOf(Form2), c);
    EXPECT_EQ(Form2->ActiveControl(), Form2->Edit2);
    Type("5");
    Press(Qt::Key_Tab);
    Press(Qt::Key_Tab);
    Press(Qt::Key_Return);
  });
  EXPECT_EQ(Entries(), List{"1234.5.."});
}

// A held key repeats its character; only letting go of it is a key release.
// Platforms deliver the repeats either as presses alone or as pairs marked as
// repeats; both must leave every character in the first field.
TEST_F(NewAddressDialogTest, HeldKeyFillsOneFieldAndMovesOnWhenLetGo) {
  UseDialog([] {
    QWindow* window = WindowOf(Form2);
    QTest::simulateEvent(window, true, Qt::Key_7, Qt::NoModifier, "7", false);
    for (int i = 0; i < 3; ++i) {
      QTest::simulateEvent(window, true, Qt::Key_7, Qt::NoModifier, "7", true);
    }
    for (int i = 0; i < 3; ++i) {
      QTest::simulateEvent(window, false, Qt::Key_7, Qt::NoModifier, "7", true);
      QTest::simulateEvent(window, true, Qt::Key_7, Qt::NoModifier, "7", true);
    }
    EXPECT_EQ(Form2->ActiveControl(), Form2->Edit1);
    QTest::simulateEvent(window, false, Qt::Key_7, Qt::NoModifier, "7", false);
    EXPECT_EQ(Form2->ActiveControl(), Form2->Edit2);
    Press(Qt::Key_Tab);
    Press(Qt::Key_Tab);
    Press(Qt::Key_Return);
  });
  EXPECT_EQ(Entries(), List{"7777777..."});
}

TEST_F(NewAddressDialogTest, ShiftTabBackIntoAFullFieldMovesStraightOn) {
  UseDialog([] {
    Type("192168");
    ASSERT_EQ(Form2->ActiveControl(), Form2->Edit3);
    // Shift+Tab as a keyboard sends it: Shift down, Tab down, Tab up, Shift up.
    QTest::keyPress(WindowOf(Form2), Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(Form2->ActiveControl(), Form2->Edit2);
    QTest::keyRelease(WindowOf(Form2), Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(Form2->ActiveControl(), Form2->Edit3);
    Type("0");
    Press(Qt::Key_Tab);
    Type("1");
    Press(Qt::Key_Return);
  });
  EXPECT_EQ(Entries(), List{"192.168.0.1"});
}

TEST_F(NewAddressDialogTest, FieldEnteredWithTheMouseKeepsTheFocusUntilAKeyIsReleasedInIt) {
  UseDialog([] {
    Type("192168");
    ASSERT_EQ(Form2->ActiveControl(), Form2->Edit3);
    ClickThroughWindow(Form2->Edit1);
    QApplication::processEvents();
    EXPECT_EQ(Form2->ActiveControl(), Form2->Edit1);
    // A mouse click does not select the text, so End only moves the caret.
    EXPECT_FALSE(static_cast<QLineEdit*>(Form2->Edit1->Widget())->hasSelectedText());
    Press(Qt::Key_End);
    EXPECT_EQ(Form2->ActiveControl(), Form2->Edit2);
    EXPECT_EQ(Form2->Edit1->Text(), "192");
    // Moved on by the handler, the next field has its text selected, so that
    // typing replaces it.
    EXPECT_EQ(static_cast<QLineEdit*>(Form2->Edit2->Widget())->selectedText(), "168");
    ClickThroughWindow(Form2->BitBtn2);
  });
  EXPECT_TRUE(Entries().empty());
}

TEST_F(NewAddressDialogTest, NewEntryGoesToTheEndEvenTwiceAndLeavesTheSelection) {
  Form1->ListBox1->Items()->Add("10.0.0.2");
  Form1->ListBox1->Items()->Add("10.0.0.1");
  Form1->ListBox1->SetItemIndex(0);
  auto add_10_0_0_1 = [] {
    Type("10");
    Press(Qt::Key_Tab);
    Type("0");
    Press(Qt::Key_Tab);
    Type("0");
    Press(Qt::Key_Tab);
    Type("1");
    Press(Qt::Key_Return);
  };
  UseDialog(add_10_0_0_1);
  EXPECT_EQ(Entries(), (List{"10.0.0.2", "10.0.0.1", "10.0.0.1"}));
  EXPECT_EQ(Form1->ListBox1->ItemIndex(), 0);

  Form1->ListBox1->SetItemIndex(-1);
  UseDialog(add_10_0_0_1);
  EXPECT_EQ(Entries(), (List{"10.0.0.2", "10.0.0.1", "10.0.0.1", "10.0.0.1"}));
  EXPECT_EQ(Form1->ListBox1->ItemIndex(), -1);
}

TEST_F(NewAddressDialogTest, CancelButtonAndCloseBoxAddNothing) {
  Form1->ListBox1->Items()->Add("10.0.0.1");
  BoxCloser closer;
  UseDialog([] {
    Type("192168001015");
    ClickThroughWindow(Form2->BitBtn2);
  });
  UseDialog([] {
    Type("127001");
    Form2->Widget()->close();
  });
  EXPECT_EQ(Entries(), List{"10.0.0.1"});
  EXPECT_TRUE(closer.boxes.empty());
}

TEST_F(NewAddressDialogTest, EscapeNeitherClosesTheDialogNorAddsAnything) {
  UseDialog([] {
    Type("127");
    Press(Qt::Key_Escape);
    Press(Qt::Key_Tab);
    EXPECT_EQ(Form2->ActiveControl(), Form2->Edit3);
    Press(Qt::Key_Escape);
    QTimer::singleShot(0, [] {
      EXPECT_TRUE(Form2->Visible());
      EXPECT_EQ(Form2->ModalResult(), mrNone);
      ClickThroughWindow(Form2->BitBtn2);
    });
  });
  EXPECT_TRUE(Entries().empty());
}

TEST_F(NewAddressDialogTest, ReopenedDialogIsEmptyAndWhereItWasLeft) {
  QPoint moved_to;
  UseDialog([&] {
    // Centred on the screen, not on the chat window.
    QRect screen = QGuiApplication::primaryScreen()->geometry();
    QRect frame = Form2->Widget()->frameGeometry();
    EXPECT_EQ(frame.left(), (screen.width() - frame.width()) / 2);
    EXPECT_EQ(frame.top(), (screen.height() - frame.height()) / 2);
    Type("10");
    Press(Qt::Key_Tab);
    Type("20");
    moved_to = frame.topLeft() + QPoint(-150, 90);
    Form2->Widget()->move(moved_to);
    Form2->Widget()->close();
  });
  UseDialog([&] {
    for (TEdit* field : {Form2->Edit1, Form2->Edit2, Form2->Edit3, Form2->Edit4}) {
      EXPECT_EQ(field->Text(), "") << field->Name();
    }
    EXPECT_EQ(Form2->ActiveControl(), Form2->Edit1);
    EXPECT_EQ(Form2->Widget()->pos(), moved_to);
    ClickThroughWindow(Form2->BitBtn2);
  });
  EXPECT_TRUE(Entries().empty());
}

TEST_F(NewAddressDialogTest, FullListShowsUnableToInsertALineAndAddsNothing) {
  Form1->ListBox1->Items()->Add("10.0.0.1");
  Form1->ListBox1->SetCapacity(1);
  BoxCloser closer;
  UseDialog([] {
    Type("127");
    ClickThroughWindow(Form2->BitBtn1);
  });
  ASSERT_EQ(closer.boxes.size(), 1u);
  EXPECT_EQ(closer.boxes[0].text, "Unable to insert a line.");
  EXPECT_EQ(Entries(), List{"10.0.0.1"});
}

TEST_F(NewAddressDialogTest, ChatWindowTakesNoInputWhileTheDialogIsShown) {
  Form1->ListBox1->Items()->Add("10.0.0.1");
  Form1->ListBox1->SetItemIndex(0);
  Form1->mesag->SetFocus();
  UseDialog([] {
    EXPECT_EQ(QApplication::activeModalWidget(), Form2->Widget());
    ClickThroughWindow(Form1->BitBtn2);  // remove the selected entry
    QTest::keyClick(WindowOf(Form1), 'x');
    EXPECT_TRUE(Form2->Visible());
    ClickThroughWindow(Form2->BitBtn2);
  });
  EXPECT_EQ(Entries(), List{"10.0.0.1"});
  EXPECT_EQ(Form1->mesag->Text(), "");
  // Afterwards the chat window takes input again.
  ClickThroughWindow(Form1->BitBtn2);
  EXPECT_TRUE(Entries().empty());
}

// Hands one line to the main thread, as the listener does with a datagram.
class LineThread : public TThread {
 public:
  explicit LineThread(std::string line) : TThread(false), line_(std::move(line)) {}

 protected:
  void ThreadBody() override {
    RunOnMainThread([this] { Form1->Memo1->Lines()->Add(line_); });
  }

 private:
  std::string line_;
};

TEST_F(NewAddressDialogTest, LineHandedOverByAWorkerAppearsWhileTheDialogIsOpen) {
  LineThread* worker = nullptr;
  bool shown = false;
  UseDialog([&] {
    worker = NewThread<LineThread>(Ansi("Петя> привет"));
    shown = WaitFor([] { return Form1->Memo1->Lines()->Count() == 1; });
    EXPECT_TRUE(Form2->Visible());
    ClickThroughWindow(Form2->BitBtn2);
  });
  EXPECT_TRUE(shown);
  ASSERT_NE(worker, nullptr);
  worker->WaitUntilDone();
  delete worker;
  EXPECT_EQ(Form1->Memo1->Lines()->Strings(0), Ansi("Петя> привет"));
}

}  // namespace
