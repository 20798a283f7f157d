// The chat window: its layout against the resource, focus and placement after
// start-up, removing an address and choosing the font.
#include "app/chat.h"

#include <gtest/gtest.h>

#include <QAbstractScrollArea>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <optional>
#include <vector>

#include "framework/core/Ansi.h"
#include "support/modal_watch.h"

namespace {

struct Placement {
  TControl* control;
  TWinControl* parent;
  int left, top, width, height;
};

class ChatWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Application->ResetForTesting();
    Application->MakeForm(Form1);
  }
  void TearDown() override {
    Application->ResetForTesting();
    Form1 = nullptr;
  }
};

TEST_F(ChatWindowTest, ControlsStandWhereTheResourcePutsThem) {
  ASSERT_EQ(Application->MainWindow(), Form1);
  TForm1* f = Form1;
  std::vector<Placement> table = {
      {f->panel, f, 0, 448, 595, 38},
      {f->mesag, f->panel, 8, 8, 409, 23},
      {f->BitBtn3, f->panel, 424, 8, 169, 22},
      {f->Panel2, f, 416, 0, 179, 448},
      {f->ListBox1, f->Panel2, 8, 40, 161, 185},
      {f->BitBtn1, f->Panel2, 8, 232, 75, 25},
      {f->BitBtn2, f->Panel2, 96, 232, 75, 25},
      {f->nik, f->Panel2, 8, 424, 169, 21},
      {f->BitBtn4, f->Panel2, 8, 264, 161, 25},
      {f->Memo1, f, 0, 0, 416, 448},
  };
  for (const Placement& p : table) {
    SCOPED_TRACE(p.control->Name());
    EXPECT_EQ(p.control->Parent(), p.parent);
    EXPECT_EQ(p.control->Widget()->geometry(), QRect(p.left, p.top, p.width, p.height));
    EXPECT_EQ(p.control->Widget()->parentWidget(), p.parent->Widget());
  }
  // The labels fit their captions at their places.
  EXPECT_EQ(f->Label1->Widget()->pos(), QPoint(8, 24));
  EXPECT_EQ(f->Label2->Widget()->pos(), QPoint(8, 408));
  EXPECT_EQ(static_cast<QLabel*>(f->Label1->Widget())->text(),
            QString::fromUtf8("Список IP собеседников:"));
  EXPECT_EQ(static_cast<QLabel*>(f->Label2->Widget())->text(), QString::fromUtf8("ваш ник:"));
}

TEST_F(ChatWindowTest, WindowIsFixedAtItsClientSizeWithoutMaximise) {
  QWidget* window = Form1->Widget();
  EXPECT_EQ(window->windowTitle(), "Kvelmar");
  EXPECT_EQ(window->size(), QSize(595, 486));
  EXPECT_EQ(window->minimumSize(), QSize(595, 486));
  EXPECT_EQ(window->maximumSize(), QSize(595, 486));
  Qt::WindowFlags flags = window->windowFlags();
  EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
}

TEST_F(ChatWindowTest, CaptionsAndFontsFollowTheResource) {
  TForm1* f = Form1;
  EXPECT_EQ(static_cast<QPushButton*>(f->BitBtn3->Widget())->text(),
            QString::fromUtf8("Отправить"));
  EXPECT_EQ(static_cast<QPushButton*>(f->BitBtn1->Widget())->text(), QString::fromUtf8("Добавить"));
  EXPECT_EQ(static_cast<QPushButton*>(f->BitBtn2->Widget())->text(), QString::fromUtf8("Удалить"));
  EXPECT_EQ(static_cast<QPushButton*>(f->BitBtn4->Widget())->text(), QString::fromUtf8("Шрифт"));
  for (TControl* c : std::vector<TControl*>{f->mesag, f->Memo1}) {
    EXPECT_EQ(c->Widget()->font().family(), "Times New Roman");
    EXPECT_EQ(c->Widget()->font().pixelSize(), 13);
  }
  EXPECT_EQ(f->mesag->Font()->Charset(), ANSI_CHARSET);
  for (TControl* c : std::vector<TControl*>{f->nik, f->ListBox1, f->BitBtn3, f->Label1}) {
    EXPECT_TRUE(c->ParentFont()) << c->Name();
    EXPECT_EQ(c->Widget()->font().family(), "Tahoma");
    EXPECT_EQ(c->Widget()->font().pixelSize(), 11);
  }
  auto* memo = static_cast<QAbstractScrollArea*>(f->Memo1->Widget());
  EXPECT_EQ(memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(f->ListBox1->ItemHeight(), 13);
}

TEST_F(ChatWindowTest, TabOrderRunsThroughTheWindowAndBack) {
  TForm1* f = Form1;
  std::vector<TWinControl*> expected = {f->mesag,   f->BitBtn3, f->ListBox1, f->BitBtn1,
                                        f->BitBtn2, f->nik,     f->BitBtn4,  f->Memo1};
  EXPECT_EQ(f->TabList(), expected);
  f->Show();
  QApplication::setActiveWindow(f->Widget());
  for (std::size_t i = 1; i <= expected.size(); ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(f->ActiveControl(), expected[i % expected.size()]) << i;
  }
}

TEST_F(ChatWindowTest, AfterStartUpTheMessageEditHasTheFocusAndTheWindowIsCentred) {
  Form1->Show();
  EXPECT_EQ(Form1->ActiveControl(), Form1->mesag);
  QRect screen = QGuiApplication::primaryScreen()->geometry();
  QRect frame = Form1->Widget()->frameGeometry();
  EXPECT_EQ(frame.left(), (screen.width() - frame.width()) / 2);
  EXPECT_EQ(frame.top(), (screen.height() - frame.height()) / 2);
}

TEST_F(ChatWindowTest, RemoveWithoutASelectionChangesNothing) {
  TListBoxItems* items = Form1->ListBox1->Items();
  items->Add("10.0.0.1");
  items->Add("10.0.0.2");
  BoxCloser closer;
  Form1->BitBtn2->Click();
  ASSERT_EQ(items->Count(), 2);
  EXPECT_EQ(items->Strings(0), "10.0.0.1");
  EXPECT_TRUE(closer.boxes.empty());
}

TEST_F(ChatWindowTest, RemoveDeletesTheSelectedEntryAndKeepsTheOrder) {
  TListBoxItems* items = Form1->ListBox1->Items();
  for (const char* address : {"10.0.0.1", "10.0.0.2", "10.0.0.3"}) items->Add(address);
  Form1->ListBox1->SetItemIndex(1);
  Form1->BitBtn2->Click();
  ASSERT_EQ(items->Count(), 2);
  EXPECT_EQ(items->Strings(0), "10.0.0.1");
  EXPECT_EQ(items->Strings(1), "10.0.0.3");
  // Nothing is selected afterwards, so a second click removes nothing.
  EXPECT_EQ(Form1->ListBox1->ItemIndex(), -1);
  Form1->BitBtn2->Click();
  EXPECT_EQ(items->Count(), 2);
}

TEST_F(ChatWindowTest, RemovingTheOnlyEntryLeavesAnEmptyList) {
  Form1->ListBox1->Items()->Add("127.0.0.1");
  Form1->ListBox1->SetItemIndex(0);
  Form1->BitBtn2->Click();
  EXPECT_EQ(Form1->ListBox1->Items()->Count(), 0);
}

TEST_F(ChatWindowTest, EnterInTheEditsPressesNoButton) {
  int clicks = 0;
  for (TBitBtn* b : {Form1->BitBtn1, Form1->BitBtn2, Form1->BitBtn3, Form1->BitBtn4}) {
    b->SetOnClick([&](TObject*) { ++clicks; });
  }
  Form1->Show();
  QApplication::setActiveWindow(Form1->Widget());
  for (TEdit* edit : {Form1->mesag, Form1->nik}) {
    edit->SetFocus();
    QTest::keyClick(edit->Widget(), Qt::Key_Return);
  }
  EXPECT_EQ(clicks, 0);
}

// Drives the chat window's font dialog: records where it starts, optionally
// changes the face and size, then confirms or cancels.
struct FontChoice {
  QString start_face;
  QString start_size;
};

FontChoice ChooseFont(const QString& face, const QString& size, bool confirm,
                      std::optional<TColor> color = std::nullopt) {
  FontChoice seen;
  ModalWatcher watcher([&](QWidget* widget) {
    auto* dialog = qobject_cast<QDialog*>(widget);
    if (dialog == nullptr || dialog->objectName() != "fontDialog") return;
    seen.start_face = dialog->findChild<QComboBox*>("fontFace")->currentText();
    seen.start_size = dialog->findChild<QComboBox*>("fontSize")->currentText();
    if (!face.isEmpty()) dialog->findChild<QComboBox*>("fontFace")->setCurrentText(face);
    if (!size.isEmpty()) dialog->findChild<QComboBox*>("fontSize")->setCurrentText(size);
    if (color) {
      auto* colors = dialog->findChild<QComboBox*>("fontColor");
      colors->setCurrentIndex(colors->findData(static_cast<int>(*color)));
    }
    QPushButton* button = dialog->findChild<QDialogButtonBox*>("fontButtons")
                              ->button(confirm ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel);
    QTimer::singleShot(0, button, [button] { button->click(); });
  });
  Form1->BitBtn4->Click();
  return seen;
}

TEST_F(ChatWindowTest, CancelledFontDialogChangesNoFont) {
  Form1->Show();
  FontChoice seen = ChooseFont("DejaVu Sans", "20", /*confirm=*/false);
  EXPECT_EQ(seen.start_face, "Tahoma");  // not the history's font
  EXPECT_EQ(seen.start_size, "8");
  EXPECT_EQ(Form1->Memo1->Font()->Name(), "Times New Roman");
  EXPECT_EQ(Form1->mesag->Font()->Height(), 13);
  EXPECT_EQ(Form1->nik->Font()->Name(), "Tahoma");
}

TEST_F(ChatWindowTest, ConfirmedFontGoesToHistoryAndBothEditsAndIsTheNextStart) {
  Form1->Show();
  ChooseFont("DejaVu Sans", "12", /*confirm=*/true);
  for (TControl* c : std::vector<TControl*>{Form1->Memo1, Form1->mesag, Form1->nik}) {
    SCOPED_TRACE(c->Name());
    EXPECT_EQ(c->Font()->Name(), "DejaVu Sans");
    EXPECT_EQ(c->Font()->Height(), 16);
    EXPECT_EQ(c->Font()->Color(), clWindowText);
    EXPECT_EQ(c->Widget()->font().pixelSize(), 16);
  }
  // The labels and buttons keep the window font.
  EXPECT_EQ(Form1->Label1->Font()->Name(), "Tahoma");
  FontChoice again = ChooseFont("", "", /*confirm=*/false);
  EXPECT_EQ(again.start_face, "DejaVu Sans");
  EXPECT_EQ(again.start_size, "12");
}

TEST_F(ChatWindowTest, ChosenColourColoursTheTextAndLeavesTheHistorysScrollBarAsItWas) {
  Form1->Show();
  QScrollBar* bar = static_cast<QAbstractScrollArea*>(Form1->Memo1->Widget())->verticalScrollBar();
  const QImage before = bar->grab().toImage();
  ChooseFont("", "", /*confirm=*/true, clRed);
  for (TControl* c : std::vector<TControl*>{Form1->Memo1, Form1->mesag, Form1->nik}) {
    SCOPED_TRACE(c->Name());
    EXPECT_EQ(c->Font()->Color(), clRed);
    EXPECT_EQ(c->Widget()->palette().color(QPalette::Text), QColor(Qt::red));
  }
  EXPECT_EQ(bar->grab().toImage(), before);
}

TEST_F(ChatWindowTest, ClosingTheChatWindowEndsTheLoop) {
  QTimer::singleShot(0, [] { Form1->Widget()->close(); });
  Application->RunMessageLoop();
  EXPECT_TRUE(Application->QuitRequested());
  EXPECT_FALSE(Form1 == nullptr);
}

}  // namespace
