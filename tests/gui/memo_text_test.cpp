// The memo's text as read back through TMemo, the same on every port: lines
// added at the end and their line breaks, zero bytes, lone CR and LF, every
// byte of the code page, the caret and the selection, the user's typing, and
// the limit of lines.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "framework/core/Ansi.h"
#include "framework/gui/Application.h"
#include "support/memo_user.h"

namespace {

using namespace std::string_literals;

class MemoTextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    memo_ = new TMemo(nullptr);
    memo_->SetBounds(0, 0, 300, 200);
  }
  void TearDown() override { delete memo_; }

  int TextSize() { return static_cast<int>(memo_->Text().size()); }

  TMemo* memo_ = nullptr;
};

std::string EveryByteButCrLf() {
  std::string bytes;
  for (int byte = 1; byte < 256; ++byte) {
    if (byte != '\r' && byte != '\n') bytes.push_back(static_cast<char>(byte));
  }
  return bytes;
}

struct AddedLines {
  const char* rule;
  std::optional<std::string> text_before;  // set before the lines are added
  std::vector<std::string> added;
  std::string text;                  // read back
  std::vector<std::string> strings;  // Lines(), in full
};

TEST_F(MemoTextTest, AddedLinesReadBack) {
  const AddedLines cases[] = {
      {"from empty, each line ends with CR LF",
       {},
       {"L1", "L2", "L3"},
       "L1\r\nL2\r\nL3\r\n",
       {"L1", "L2", "L3"}},
      {"an empty line adds a line break", {}, {""}, "\r\n", {""}},
      {"a line after an empty one", {}, {"", "x"}, "\r\nx\r\n", {"", "x"}},
      {"text without a final break gets the break before the line",
       "typed by the user",
       {"L1"},
       "typed by the user\r\nL1",
       {"typed by the user", "L1"}},
      {"and the next line the break before it too",
       "typed by the user",
       {"L1", "L2"},
       "typed by the user\r\nL1\r\nL2",
       {"typed by the user", "L1", "L2"}},
      {"CR LF inside a line breaks it", {}, {"one\r\ntwo"}, "one\r\ntwo\r\n", {"one", "two"}},
      {"a zero byte ends the line and loses the break after it", {}, {"ab\0cd"s}, "ab", {"ab"}},
      {"the next line gets the break before it",
       {},
       {"ab\0cd"s, "next"},
       "ab\r\nnext",
       {"ab", "next"}},
      {"a zero byte first adds nothing", {}, {"L1", "\0hidden"s}, "L1\r\n", {"L1"}},
      {"lone CR and LF stay in their line", {}, {"a\rb\nc"}, "a\rb\nc\r\n", {"a\rb\nc"}},
      {"CR LF is found between lone CR and LF", {}, {"\r\r\n\n"}, "\r\r\n\n\r\n", {"\r", "\n"}},
      {"every code page byte",
       {},
       {EveryByteButCrLf()},
       EveryByteButCrLf() + "\r\n",
       {EveryByteButCrLf()}},
      {"the rules in a row",
       {},
       {"first", "ab\0cd"s, "one\r\ntwo", "\0"s, "a\rb\nc", ""},
       "first\r\nab\r\none\r\ntwo\r\na\rb\nc\r\n\r\n",
       {"first", "ab", "one", "two", "a\rb\nc", ""}},
  };
  for (const AddedLines& c : cases) {
    SCOPED_TRACE(c.rule);
    memo_->SetText(c.text_before.value_or(""));
    for (const std::string& line : c.added) memo_->AddLine(line);
    EXPECT_EQ(memo_->Text(), c.text);
    std::vector<std::string> strings;
    for (int i = 0; i < memo_->Lines()->Count(); ++i) strings.push_back(memo_->Lines()->Strings(i));
    EXPECT_EQ(strings, c.strings);
    // The caret ends after the insertion.
    EXPECT_EQ(memo_->SelStart(), TextSize());
    EXPECT_EQ(memo_->SelLength(), 0);
  }
}

TEST_F(MemoTextTest, ASelectionIsGivenUpForTheAddedLine) {
  memo_->AddLine("first");
  memo_->AddLine("second");
  UserSelects(memo_, 0, 3);
  ASSERT_EQ(memo_->SelStart(), 0);
  ASSERT_EQ(memo_->SelLength(), 3);
  memo_->AddLine("third");
  EXPECT_EQ(memo_->SelLength(), 0);
  EXPECT_EQ(memo_->SelStart(), TextSize());
  EXPECT_EQ(memo_->Text(), "first\r\nsecond\r\nthird\r\n");
}

struct Typing {
  const char* what;
  std::string text_before;
  int caret;  // in the text before
  std::u16string keys;
  std::string text;  // read back
  int caret_after;
};

TEST_F(MemoTextTest, TypingByTheUserReadsBack) {
  const Typing cases[] = {
      {"typed at the end", "L1\r\n", 4, u"typed", "L1\r\ntyped", 9},
      {"Enter breaks the line", "abc", 2, u"\r", "ab\r\nc", 4},
      {"Backspace at a line's start joins it to the line before", "ab\r\nc", 4, u"\b", "abc", 2},
      {"Backspace deletes the byte before the caret", "abc", 3, u"\b\b", "a", 1},
      {"Cyrillic is typed in the code page", "", 0, u"Привет", Ansi("Привет"), 6},
  };
  for (const Typing& c : cases) {
    SCOPED_TRACE(c.what);
    memo_->SetText(c.text_before);
    UserSelects(memo_, c.caret, c.caret);
    UserTypes(memo_, c.keys);
    EXPECT_EQ(memo_->Text(), c.text);
    EXPECT_EQ(memo_->SelStart(), c.caret_after);
    EXPECT_EQ(memo_->SelLength(), 0);
  }
}

TEST_F(MemoTextTest, UserEditedHistoryKeepsItsTextAndGetsLinesAfterIt) {
  memo_->AddLine("L1");
  UserTypes(memo_, u"typed");
  memo_->AddLine("L2");
  EXPECT_EQ(memo_->Text(), "L1\r\ntyped\r\nL2");
}

TEST_F(MemoTextTest, ReadsSeeEveryLineAtOnceAndInOrder) {
  AddNumberedLines(memo_, 1000);
  EXPECT_EQ(memo_->Lines()->Count(), 1000);
  EXPECT_EQ(memo_->Lines()->Strings(999), "line 999");
  EXPECT_EQ(memo_->Text(), NumberedLines(1000));
  EXPECT_EQ(memo_->SelStart(), static_cast<int>(NumberedLines(1000).size()));
}

TEST_F(MemoTextTest, KeepsTheNewestLinesUpToItsLimitAndTheOldestGo) {
  EXPECT_EQ(memo_->MaxLines(), 1000000);
  memo_->SetMaxLines(100);
  AddNumberedLines(memo_, 1000);
  EXPECT_EQ(memo_->Lines()->Count(), 100);
  EXPECT_EQ(memo_->Text(), NumberedLines(100, 900));
  // Added one at a time, the oldest goes with each.
  for (int i = 1000; i < 1010; ++i) {
    memo_->AddLine("line " + std::to_string(i));
    ASSERT_EQ(memo_->Lines()->Count(), 100);
    EXPECT_EQ(memo_->Lines()->Strings(0), "line " + std::to_string(i - 99));
    EXPECT_EQ(memo_->Lines()->Strings(99), "line " + std::to_string(i));
    EXPECT_EQ(memo_->SelStart(), TextSize());
  }
  // A last line without a break counts as a line; the limit lowered drops at once.
  memo_->SetText("a\r\nb\r\nc");
  memo_->SetMaxLines(2);
  EXPECT_EQ(memo_->Text(), "b\r\nc");
  memo_->AddLine("d");
  EXPECT_EQ(memo_->Text(), "c\r\nd");
}

}  // namespace
