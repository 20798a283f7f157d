// The Win32 history's text (framework/gui/win32/HistoryText.h), plain C++ and
// so tested on every platform: editing across lines, the offsets of the text
// read back, dropping the oldest lines, and word moves.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "framework/gui/win32/HistoryText.h"

namespace {

using win32port::HistoryText;
using win32port::TextPos;

HistoryText Made(const std::string& bytes) {
  HistoryText text;
  win32port::Insert(text, TextPos{}, bytes);
  return text;
}

std::string Joined(const HistoryText& text) {
  std::string joined;
  for (std::size_t line = 0; line < text.lines.size(); ++line) {
    if (line > 0) joined += "\r\n";
    joined += text.lines[line];
  }
  return joined;
}

struct Edit {
  const char* what;
  std::string before;
  std::function<void(HistoryText&)> edit;
  std::string after;
};

TEST(HistoryTextTest, EditsKeepTheTextItsLengthAndItsOffsets) {
  const Edit cases[] = {
      {"insert breaking a line", "ab\r\ncd",
       [](HistoryText& t) {
         win32port::Insert(t, TextPos{0, 1}, "x\r\ny\r");
       },
       "ax\r\ny\rb\r\ncd"},
      {"erase within a line", "abcd\r\nef",
       [](HistoryText& t) {
         Erase(t, {0, 1}, {0, 3});
       },
       "ad\r\nef"},
      {"erase across lines", "ab\r\ncd\r\nef",
       [](HistoryText& t) {
         Erase(t, {0, 1}, {2, 1});
       },
       "af"},
      {"erase of a line break", "ab\r\ncd",
       [](HistoryText& t) {
         Erase(t, {0, 2}, {1, 0});
       },
       "abcd"},
      {"the oldest lines go, a final empty line being no line", "a\r\nb\r\nc\r\n",
       [](HistoryText& t) {
         t.max_lines = 2;
         t.caret = TextPos{2, 0};
         t.anchor = TextPos{0, 1};
         EXPECT_EQ(DropOldestLines(t), 1u);
         EXPECT_EQ(t.caret, (TextPos{1, 0}));
         EXPECT_EQ(t.anchor, (TextPos{0, 0}));  // its line went
       },
       "b\r\nc\r\n"},
      {"a last line without a break counts", "a\r\nb\r\nc",
       [](HistoryText& t) {
         t.max_lines = 2;
         EXPECT_EQ(DropOldestLines(t), 1u);
       },
       "b\r\nc"},
  };
  for (const Edit& c : cases) {
    SCOPED_TRACE(c.what);
    HistoryText text = Made(c.before);
    c.edit(text);
    const std::string joined = Joined(text);
    EXPECT_EQ(joined, c.after);
    EXPECT_EQ(text.length, joined.size());
    // Every offset of the text read back is a place in it, and back; a place
    // between CR and LF is none (the offset after the break stands for it).
    for (std::size_t offset = 0; offset <= joined.size(); ++offset) {
      if (offset > 0 && joined.compare(offset - 1, 2, "\r\n") == 0) continue;
      EXPECT_EQ(Offset(text, PosAt(text, offset)), offset) << "offset " << offset;
    }
    EXPECT_EQ(PosAt(text, joined.size() + 5), End(text));
  }
}

TEST(HistoryTextTest, WordMovesStopAtWordStartsAndLineEdges) {
  const HistoryText text = Made("one  two\tthree\r\nfour");
  struct Move {
    TextPos from, left, right;
  };
  const Move cases[] = {
      {{0, 0}, {0, 0}, {0, 5}},  {{0, 5}, {0, 0}, {0, 9}},  {{0, 7}, {0, 5}, {0, 9}},
      {{0, 14}, {0, 9}, {1, 0}}, {{1, 0}, {0, 14}, {1, 4}}, {{1, 4}, {1, 0}, {1, 4}},
  };
  for (const Move& c : cases) {
    SCOPED_TRACE(testing::Message() << "from " << c.from.line << ":" << c.from.col);
    EXPECT_EQ(WordLeft(text, c.from), c.left);
    EXPECT_EQ(WordRight(text, c.from), c.right);
  }
}

}  // namespace
