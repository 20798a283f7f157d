// The Qt memo's widget: how the lines added show in its document; and lines
// added faster than the display's frames, which reach the widget together:
// every read, every input of the user and the end of the frame see them. (What
// TMemo reads back is memo_text_test.cpp's, on every port.)
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QDeadlineTimer>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "framework/core/Ansi.h"
#include "framework/core/Threads.h"
#include "framework/gui/Application.h"
#include "support/memo_user.h"

namespace {

class MemoTest : public ::testing::Test {
 protected:
  void SetUp() override { memo_ = new TMemo(nullptr); }
  void TearDown() override { delete memo_; }

  QPlainTextEdit* edit() { return static_cast<QPlainTextEdit*>(memo_->Widget()); }

  TMemo* memo_ = nullptr;
};

TEST_F(MemoTest, LoneCrAndLfShowAsTheirSymbols) {
  memo_->AddLine("a\rb\nc");
  memo_->Flush();
  EXPECT_EQ(edit()->document()->firstBlock().text(), QString::fromUtf8("a\u240Db\u240Ac"));
}

TEST_F(MemoTest, HtmlIsShownAsItStands) {
  memo_->AddLine("<b>bold?</b>&amp;");
  EXPECT_EQ(edit()->document()->firstBlock().text(), "<b>bold?</b>&amp;");
}

TEST_F(MemoTest, CodePageBytesShowAsTheirCharacters) {
  memo_->AddLine(Ansi("Привет, мир"));
  memo_->Flush();
  EXPECT_EQ(edit()->document()->firstBlock().text(), QString::fromUtf8("Привет, мир"));
}

// ---- lines added faster than the display's frames ----

// Keeps the event loop running until done() holds or ten seconds pass.
bool PumpUntil(const std::function<bool()>& done) {
  QDeadlineTimer deadline(10000);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

// CR LF as the toolkit's plain text has it.
std::string WithLf(std::string text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out.push_back(text[i]);
  }
  return out;
}

// The text of the widget's own document, without asking the memo.
std::string DocumentText(QPlainTextEdit* edit) {
  return edit->document()->toPlainText().toStdString();
}

// A memo on screen; lines added after the first come within one frame and wait
// for its end.
class MemoFloodTest : public MemoTest {
 protected:
  void SetUp() override {
    MemoTest::SetUp();
    memo_->SetBounds(0, 0, 300, 200);
    memo_->Widget()->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(memo_->Widget()));
  }
};

TEST_F(MemoFloodTest, WaitingLinesReachTheWidgetWithoutAnyRead) {
  AddNumberedLines(memo_, 500);
  // Only the widget's own document is looked at: the end of the frame must
  // bring the lines in by itself.
  EXPECT_TRUE(PumpUntil([&] { return edit()->document()->blockCount() == 501; }));
  EXPECT_EQ(DocumentText(edit()), WithLf(NumberedLines(500)));
}

TEST_F(MemoFloodTest, AFloodEndsScrolledToTheLastLine) {
  AddNumberedLines(memo_, 3000);
  ASSERT_TRUE(PumpUntil([&] { return edit()->document()->blockCount() == 3001; }));
  QScrollBar* bar = edit()->verticalScrollBar();
  EXPECT_GT(bar->maximum(), 0);
  EXPECT_TRUE(edit()->viewport()->rect().contains(edit()->cursorRect()));
  EXPECT_EQ(edit()->textCursor().position(), edit()->document()->characterCount() - 1);
}

// Counts the paint events that a widget receives.
class PaintCounter : public QObject {
 public:
  explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
  int count = 0;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++count;
    return false;
  }
};

TEST_F(MemoFloodTest, ScrollBarIsRedrawnWhenItsSliderChanges) {
  memo_->SetScrollBars(ssVertical);
  QScrollBar* bar = edit()->verticalScrollBar();
  AddNumberedLines(memo_, 100);
  ASSERT_TRUE(PumpUntil([&] { return edit()->document()->blockCount() == 101; }));
  QCoreApplication::processEvents();
  // Only the range and the position change now, and the slider shrinks and
  // moves to the end: the bar must show it.
  PaintCounter paints(bar);
  AddNumberedLines(memo_, 3000, 100);
  EXPECT_TRUE(PumpUntil([&] { return paints.count > 0; }));
}

TEST_F(MemoFloodTest, SetTextDropsTheLinesThatWait) {
  AddNumberedLines(memo_, 100);
  memo_->SetText("replaced");
  // Flush would put in whatever still waited.
  memo_->Flush();
  EXPECT_EQ(memo_->Text(), "replaced");
  EXPECT_EQ(DocumentText(edit()), "replaced");
}

TEST_F(MemoFloodTest, CopyAllByTheUserTakesTheLinesThatWait) {
  AddNumberedLines(memo_, 200);
  edit()->setFocus();
  QTest::keyClick(edit(), Qt::Key_A, Qt::ControlModifier);
  QTest::keyClick(edit(), Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), WithLf(NumberedLines(200)));
}

TEST_F(MemoFloodTest, TypingByTheUserGoesAfterTheLinesThatWait) {
  AddNumberedLines(memo_, 50);
  edit()->setFocus();
  QTest::keyClicks(edit(), "typed");
  EXPECT_EQ(memo_->Text(), NumberedLines(50) + "typed");
}

TEST_F(MemoFloodTest, ClickByTheUserKeepsItsCaretWhenLinesWait) {
  AddNumberedLines(memo_, 20);
  // The lines that were waiting go in before the click, so they do not take
  // away the caret that the click puts on the top line.
  QTest::mouseClick(edit()->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(2, 2));
  EXPECT_EQ(memo_->Lines()->Count(), 20);
  EXPECT_EQ(edit()->textCursor().position(), edit()->cursorForPosition(QPoint(2, 2)).position());
  EXPECT_LT(memo_->SelStart(), static_cast<int>(memo_->Text().size()) - 8);
}

TEST_F(MemoFloodTest, SelectionMadeAfterTheLinesStaysUntilTheNextLine) {
  AddNumberedLines(memo_, 10);
  QTextCursor selection(edit()->document());
  selection.setPosition(0);
  selection.setPosition(4, QTextCursor::KeepAnchor);
  memo_->Flush();
  edit()->setTextCursor(selection);
  EXPECT_EQ(memo_->SelLength(), 4);
  AddNumberedLines(memo_, 10, 10);
  EXPECT_EQ(memo_->SelLength(), 0);
  EXPECT_EQ(memo_->SelStart(), static_cast<int>(NumberedLines(20).size()));
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

TEST_F(MemoFloodTest, LinesHandedOverByWorkersAllArriveInTheirOrder) {
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
