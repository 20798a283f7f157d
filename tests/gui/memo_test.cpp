// Adding lines at the end of the memo: line breaks, zero bytes, lone CR and
// LF, the caret and the selection.
#include <gtest/gtest.h>

#include <QPlainTextEdit>
#include <QTextBlock>
#include <string>

#include "framework/core/Ansi.h"
#include "framework/gui/Forms.h"

namespace {

using namespace std::string_literals;

class MemoTest : public ::testing::Test {
 protected:
  void SetUp() override { memo_ = new TMemo(nullptr); }
  void TearDown() override { delete memo_; }

  QPlainTextEdit* edit() { return static_cast<QPlainTextEdit*>(memo_->Widget()); }

  TMemo* memo_ = nullptr;
};

TEST_F(MemoTest, LinesFromEmptyEachEndWithCrLf) {
  memo_->AddLine("L1");
  memo_->AddLine("L2");
  memo_->AddLine("L3");
  EXPECT_EQ(memo_->Text(), "L1\r\nL2\r\nL3\r\n");
  ASSERT_EQ(memo_->Lines()->Count(), 3);
  EXPECT_EQ(memo_->Lines()->Strings(2), "L3");
}

TEST_F(MemoTest, EmptyLineAddsALineBreak) {
  memo_->AddLine("");
  EXPECT_EQ(memo_->Text(), "\r\n");
  memo_->AddLine("x");
  EXPECT_EQ(memo_->Text(), "\r\nx\r\n");
}

TEST_F(MemoTest, TextWithoutFinalBreakGetsTheBreakBeforeTheLine) {
  memo_->SetText("typed by the user");
  memo_->AddLine("L1");
  EXPECT_EQ(memo_->Text(), "typed by the user\r\nL1");
  memo_->AddLine("L2");
  EXPECT_EQ(memo_->Text(), "typed by the user\r\nL1\r\nL2");
}

TEST_F(MemoTest, CrLfInsideALineBreaksIt) {
  memo_->AddLine("one\r\ntwo");
  EXPECT_EQ(memo_->Text(), "one\r\ntwo\r\n");
  EXPECT_EQ(memo_->Lines()->Count(), 2);
}

TEST_F(MemoTest, ZeroByteEndsTheShownTextAndLosesTheBreakAfterIt) {
  memo_->AddLine("ab\0cd"s);
  EXPECT_EQ(memo_->Text(), "ab");
  memo_->AddLine("next");
  EXPECT_EQ(memo_->Text(), "ab\r\nnext");
}

TEST_F(MemoTest, ZeroByteFirstShowsNothing) {
  memo_->AddLine("L1");
  memo_->AddLine("\0hidden"s);
  EXPECT_EQ(memo_->Text(), "L1\r\n");
}

TEST_F(MemoTest, LoneCrAndLfStayInTheirLineAndReadBack) {
  memo_->AddLine("a\rb\nc");
  EXPECT_EQ(memo_->Text(), "a\rb\nc\r\n");
  EXPECT_EQ(memo_->Lines()->Count(), 1);
  EXPECT_EQ(memo_->Lines()->Strings(0), "a\rb\nc");
  EXPECT_EQ(edit()->document()->firstBlock().text(), QString::fromUtf8("a\u240Db\u240Ac"));
}

TEST_F(MemoTest, CrLfSplitFromLoneBreaksCorrectly) {
  memo_->AddLine("\r\r\n\n");
  EXPECT_EQ(memo_->Text(), "\r\r\n\n\r\n");
  EXPECT_EQ(memo_->Lines()->Count(), 2);
}

TEST_F(MemoTest, HtmlIsShownAsItStands) {
  memo_->AddLine("<b>bold?</b>&amp;");
  EXPECT_EQ(edit()->document()->firstBlock().text(), "<b>bold?</b>&amp;");
}

TEST_F(MemoTest, EveryCodePageByteRoundTrips) {
  std::string bytes;
  for (int byte = 1; byte < 256; ++byte) {
    if (byte != '\r' && byte != '\n') bytes.push_back(static_cast<char>(byte));
  }
  memo_->AddLine(bytes);
  EXPECT_EQ(memo_->Lines()->Strings(0), bytes);
  memo_->AddLine(Ansi("Привет, мир"));
  EXPECT_EQ(edit()->document()->lastBlock().previous().text(), QString::fromUtf8("Привет, мир"));
}

TEST_F(MemoTest, CaretEndsAfterTheInsertionAndASelectionIsGivenUp) {
  memo_->AddLine("first");
  memo_->AddLine("second");
  QTextCursor cursor = edit()->textCursor();
  cursor.setPosition(0);
  cursor.setPosition(3, QTextCursor::KeepAnchor);
  edit()->setTextCursor(cursor);
  ASSERT_EQ(memo_->SelLength(), 3);
  memo_->AddLine("third");
  EXPECT_EQ(memo_->SelLength(), 0);
  EXPECT_EQ(memo_->SelStart(), static_cast<int>(memo_->Text().size()));
  EXPECT_EQ(memo_->Text(), "first\r\nsecond\r\nthird\r\n");
}

TEST_F(MemoTest, UserEditedHistoryKeepsItsTextAndGetsLinesAfterIt) {
  memo_->AddLine("L1");
  QTextCursor cursor = edit()->textCursor();
  cursor.movePosition(QTextCursor::End);
  cursor.insertText("typed");
  memo_->AddLine("L2");
  EXPECT_EQ(memo_->Text(), "L1\r\ntyped\r\nL2");
}

}  // namespace
