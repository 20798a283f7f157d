// The Qt memo's widget: what it shows, what a screen reader reads and edits
// through its accessible text, the context menu, input-method commits, the
// clipboard's line breaks and the scroll bar and wheel. (What TMemo reads back
// is memo_text_test.cpp's, on every port; the rows, the caret and the
// clipboard's bytes are the history view's, history_view_test.cpp's.)
#include <gtest/gtest.h>

#include <QAbstractScrollArea>
#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QDeadlineTimer>
#include <QInputMethodEvent>
#include <QMenu>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "framework/core/Ansi.h"
#include "framework/core/Threads.h"
#include "framework/gui/Application.h"
#include "support/memo_user.h"

namespace {

// Keeps the event loop running until done() holds or ten seconds pass.
bool PumpUntil(const std::function<bool()>& done) {
  QDeadlineTimer deadline(10000);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

// A memo on screen.
class MemoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    memo_ = new TMemo(nullptr);
    memo_->SetBounds(0, 0, 300, 200);
    memo_->Widget()->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(memo_->Widget()));
  }
  void TearDown() override { delete memo_; }

  QAbstractScrollArea* area() { return static_cast<QAbstractScrollArea*>(memo_->Widget()); }
  QAccessibleInterface* accessible() { return QAccessible::queryAccessibleInterface(area()); }
  QAccessibleTextInterface* accessible_text() { return accessible()->textInterface(); }
  QString Line(int offset) {
    int start = 0, end = 0;
    return accessible_text()->textAtOffset(offset, QAccessible::LineBoundary, &start, &end);
  }

  TMemo* memo_ = nullptr;
};

TEST_F(MemoTest, AddedLinesShowAsTheirCharacters) {
  struct Shown {
    const char* what;
    std::string line;
    const char* shown;  // UTF-8
  };
  const Shown cases[] = {
      {"lone CR and LF as their symbols", "a\rb\nc", "a\u240Db\u240Ac"},
      {"HTML as it stands", "<b>bold?</b>&amp;", "<b>bold?</b>&amp;"},
      {"code page bytes as their characters", Ansi("Привет, мир"), "Привет, мир"},
  };
  for (const Shown& c : cases) {
    SCOPED_TRACE(c.what);
    memo_->SetText("");
    memo_->AddLine(c.line);
    EXPECT_EQ(accessible_text()->text(0, accessible_text()->characterCount()),
              QString::fromUtf8(c.shown) + "\n");
  }
}

TEST_F(MemoTest, AScreenReaderReadsAndEditsTheHistoryAsAnEditableText) {
  memo_->SetAccessibleName(Ansi("История сообщений"));
  AddNumberedLines(memo_, 3);
  QAccessibleInterface* face = accessible();
  EXPECT_EQ(face->role(), QAccessible::EditableText);
  EXPECT_TRUE(face->state().editable);
  EXPECT_TRUE(face->state().multiLine);
  EXPECT_EQ(face->text(QAccessible::Name), QString::fromUtf8("История сообщений"));
  QAccessibleTextInterface* text = accessible_text();
  // "line 0\nline 1\nline 2\n": a line break is one character.
  EXPECT_EQ(text->characterCount(), 21);
  EXPECT_EQ(text->cursorPosition(), 21);
  EXPECT_EQ(Line(9), "line 1\n");
  int start = 0, end = 0;
  EXPECT_EQ(text->textBeforeOffset(9, QAccessible::LineBoundary, &start, &end), "line 0\n");
  EXPECT_EQ(text->textAfterOffset(9, QAccessible::LineBoundary, &start, &end), "line 2\n");
  EXPECT_EQ(text->textAtOffset(9, QAccessible::WordBoundary, &start, &end), "line");
  EXPECT_EQ(start, 7);
  // A selection made there is the memo's, in the text read back (CR LF).
  text->setSelection(0, 7, 13);
  EXPECT_EQ(memo_->SelStart(), 8);
  EXPECT_EQ(memo_->SelLength(), 6);
  face->editableTextInterface()->replaceText(7, 14, QString::fromUtf8("новая\n"));
  EXPECT_EQ(memo_->Text(), "line 0\r\n" + Ansi("новая") + "\r\nline 2\r\n");
}

TEST_F(MemoTest, TheContextMenuHasTheEditsEntriesAndTheyWork) {
  memo_->AddLine("one");
  memo_->AddLine("two");
  UserSelects(memo_, 5, 8);  // "two"
  QStringList entries;
  QTimer::singleShot(0, [&] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (menu == nullptr) return;
    for (QAction* action : menu->actions()) {
      if (action->isSeparator()) continue;
      entries << action->text() + (action->isEnabled() ? "" : " (off)");
      if (action->text() == QString::fromUtf8("Вы&резать")) action->trigger();
    }
    menu->close();
  });
  QGuiApplication::clipboard()->clear();
  QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                          area()->mapToGlobal(QPoint(5, 5)));
  QApplication::sendEvent(area()->viewport(), &event);
  EXPECT_EQ(entries,
            QStringList({QString::fromUtf8("Вы&резать"), QString::fromUtf8("&Копировать"),
                         QString::fromUtf8("Вст&авить (off)"), QString::fromUtf8("&Удалить"),
                         QString::fromUtf8("Выделить &все")}));
  EXPECT_EQ(memo_->Text(), "one\r\n\r\n");
  EXPECT_EQ(QGuiApplication::clipboard()->text(), "two");
}

TEST_F(MemoTest, TheClipboardGetsLfBetweenLinesAndGivesBackLines) {
  memo_->AddLine("a\rb");
  memo_->AddLine("c");
  area()->setFocus();
  QTest::keyClick(area(), Qt::Key_A, Qt::ControlModifier);
  QTest::keyClick(area(), Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QString::fromUtf8("a\u240Db\nc\n"));
  QGuiApplication::clipboard()->setText("x\ny");
  QTest::keyClick(area(), Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(memo_->Text(), "x\r\ny");
}

TEST_F(MemoTest, AnInputMethodsCommitIsTypedAndItsCompositionIsNot) {
  area()->setFocus();
  QInputMethodEvent composing(QString::fromUtf8("при"), {});
  QApplication::sendEvent(area(), &composing);
  EXPECT_EQ(memo_->Text(), "");
  QInputMethodEvent committed;
  committed.setCommitString(QString::fromUtf8("привет"));
  QApplication::sendEvent(area(), &committed);
  EXPECT_EQ(memo_->Text(), Ansi("привет"));
  EXPECT_EQ(area()->inputMethodQuery(Qt::ImSurroundingText).toString(),
            QString::fromUtf8("привет"));
  EXPECT_EQ(area()->inputMethodQuery(Qt::ImCursorPosition).toInt(), 6);
}

TEST_F(MemoTest, TheScrollBarFollowsTheLinesAndTheWheelScrolls) {
  memo_->SetScrollBars(ssVertical);
  QScrollBar* bar = area()->verticalScrollBar();
  AddNumberedLines(memo_, 200);
  // Told a few times a second: the end of a flood reaches it.
  ASSERT_TRUE(PumpUntil([&] { return bar->maximum() > 150 && bar->value() == bar->maximum(); }));
  const int at_end = bar->value();
  QWheelEvent notch(QPointF(10, 10), area()->mapToGlobal(QPointF(10, 10)), QPoint(), QPoint(0, 120),
                    Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(area()->viewport(), &notch);
  EXPECT_TRUE(PumpUntil([&] { return bar->value() == at_end - QApplication::wheelScrollLines(); }))
      << bar->value();
  // Scrolled away from the end, the view stays where it is as lines come.
  AddNumberedLines(memo_, 10, 200);
  // (The bar's range and page cover the lines, 211 with the empty last one.)
  ASSERT_TRUE(PumpUntil([&] { return bar->maximum() + bar->pageStep() == 211; }));
  EXPECT_EQ(bar->value(), at_end - QApplication::wheelScrollLines());
}

// Hands numbered lines to the main thread one by one, as the UDP listener
// hands over datagrams.
class LineSender : public TThread {
 public:
  LineSender(TMemo* memo, int first, int count)
      : TThread(false), memo_(memo), first_(first), count_(count) {}
  std::atomic<int> handed{0};

 protected:
  void ThreadBody() override {
    for (int i = first_; i < first_ + count_; ++i) {
      RunOnMainThread([this, i] { memo_->AddLine("line " + std::to_string(i)); });
      handed.fetch_add(1);
    }
  }

 private:
  TMemo* memo_;
  int first_;
  int count_;
};

TEST_F(MemoTest, LinesHandedOverByWorkersAllArriveInTheirOrder) {
  // Two workers at once: each one's lines in its own order, none lost and
  // nobody left waiting for a wake-up.
  std::unique_ptr<LineSender> a(NewThread<LineSender>(memo_, 0, 5000));
  std::unique_ptr<LineSender> b(NewThread<LineSender>(memo_, 5000, 5000));
  QDeadlineTimer deadline(60000);
  while ((a->handed.load() < 5000 || b->handed.load() < 5000) && !deadline.hasExpired()) {
    Application->PumpOneMessage();
  }
  ASSERT_EQ(a->handed.load(), 5000);
  ASSERT_EQ(b->handed.load(), 5000);
  a->WaitUntilDone();
  b->WaitUntilDone();
  ASSERT_EQ(memo_->Lines()->Count(), 10000);
  int next_a = 0;
  int next_b = 5000;
  for (int i = 0; i < 10000; ++i) {
    std::string line = memo_->Lines()->Strings(i);
    int n = std::stoi(line.substr(5));
    if (n < 5000) {
      ASSERT_EQ(n, next_a++);
    } else {
      ASSERT_EQ(n, next_b++);
    }
  }
}

}  // namespace
