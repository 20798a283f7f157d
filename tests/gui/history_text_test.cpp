// The history's text (framework/gui/HistoryText.h), plain C++ and so tested
// on every platform: editing across lines and across the blocks the lines are
// kept in, the offsets of the text read back, the memo's rule for adding a
// line, the line limit, and word moves.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "framework/gui/HistoryText.h"

namespace {

using namespace std::string_literals;

THistoryText Made(const std::string& bytes) {
  THistoryText text;
  text.Assign(bytes);
  return text;
}

// Lines long enough that a few hundred of them fill several blocks.
std::string Numbered(int from, int count) {
  std::string text;
  for (int i = from; i < from + count; ++i) {
    text += "line " + std::to_string(i) + std::string(40, '.') + "\r\n";
  }
  return text;
}

struct Edit {
  const char* what;
  std::string before;
  std::function<void(THistoryText&)> edit;
  std::string after;
};

TEST(HistoryTextTest, EditsKeepTheTextItsLengthAndItsOffsets) {
  const std::string many = Numbered(0, 300);
  const Edit cases[] = {
      {"insert breaking a line", "ab\r\ncd",
       [](THistoryText& t) {
         t.Select({0, 1}, {0, 1});
         t.ReplaceSelection("x\r\ny\r");
         EXPECT_EQ(t.Caret(), (TTextPos{1, 2}));
       },
       "ax\r\ny\rb\r\ncd"},
      {"erase within a line", "abcd\r\nef",
       [](THistoryText& t) {
         t.Select({0, 1}, {0, 3});
         t.ReplaceSelection("");
       },
       "ad\r\nef"},
      {"erase across lines, the caret before the anchor", "ab\r\ncd\r\nef",
       [](THistoryText& t) {
         t.Select({2, 1}, {0, 1});
         t.ReplaceSelection("");
         EXPECT_EQ(t.Caret(), (TTextPos{0, 1}));
       },
       "af"},
      {"erase of a line break", "ab\r\ncd",
       [](THistoryText& t) {
         t.Select({0, 2}, {1, 0});
         t.ReplaceSelection("");
       },
       "abcd"},
      {"a CR before the bytes and an LF after them make a line break", "a\rb\r\n\nc",
       [](THistoryText& t) {
         t.Select({0, 2}, {1, 0});  // "b" and the line break
         t.ReplaceSelection("");
         EXPECT_EQ(t.LineCount(), 2u);
         EXPECT_EQ(t.Caret(), (TTextPos{1, 0}));
       },
       "a\r\nc"},
      {"a selection beyond the text is clamped", "ab",
       [](THistoryText& t) {
         t.Select({0, 1}, {5, 9});
         t.ReplaceSelection("!");
       },
       "a!"},
      {"across many blocks, from the middle of one to the middle of another", many,
       [](THistoryText& t) {
         t.Select({10, 3}, {250, 5});
         t.ReplaceSelection("X\r\nY");
         EXPECT_EQ(t.Line(11), "Y" + std::string(Numbered(250, 1)).substr(5, 43));
         EXPECT_EQ(t.Line(12), "line 251" + std::string(40, '.'));
       },
       many.substr(0, many.find("line 10.") + 3) + "X\r\nY" +
           many.substr(many.find("line 250.") + 5)},
      {"typing at the top of many lines", many,
       [](THistoryText& t) {
         t.Select({0, 0}, {0, 0});
         t.ReplaceSelection("typed\r\n");
         EXPECT_EQ(t.Line(299), "line 298" + std::string(40, '.'));
       },
       "typed\r\n" + many},
      {"lines added after the text without a final break", "typed",
       [](THistoryText& t) {
         t.AddLine("L1");
         t.AddLine("ab\0cd"s);
         t.AddLine("next");
       },
       "typed\r\nL1\r\nab\r\nnext"},
      {"the whole text selected and replaced", many,
       [](THistoryText& t) {
         t.Select({}, t.End());
         t.ReplaceSelection("x");
         EXPECT_EQ(t.LineCount(), 1u);
       },
       "x"},
      {"the oldest lines go, a final empty line being no line", "a\r\nb\r\nc\r\n",
       [](THistoryText& t) {
         t.Select({0, 1}, {2, 0});
         t.SetMaxLines(2);
         EXPECT_EQ(t.DroppedLines(), 1u);
         EXPECT_EQ(t.Caret(), (TTextPos{1, 0}));
         EXPECT_EQ(t.Anchor(), (TTextPos{0, 0}));  // its line went
       },
       "b\r\nc\r\n"},
      {"a last line without a break counts", "a\r\nb\r\nc",
       [](THistoryText& t) { t.SetMaxLines(2); }, "b\r\nc"},
      {"the limit holds for added lines, across blocks", many,
       [](THistoryText& t) {
         t.SetMaxLines(100);
         t.AddLine("one\r\ntwo");
         EXPECT_EQ(t.CountedLines(), 100u);
         EXPECT_EQ(t.DroppedLines(), 202u);
       },
       Numbered(202, 98) + "one\r\ntwo\r\n"},
      {"and for typed line breaks", "a\r\nb",
       [](THistoryText& t) {
         t.SetMaxLines(2);
         t.Select(t.End(), t.End());
         t.ReplaceSelection("\r\nc");
         EXPECT_EQ(t.Caret(), (TTextPos{1, 1}));
       },
       "b\r\nc"},
  };
  for (const Edit& c : cases) {
    SCOPED_TRACE(c.what);
    THistoryText text = Made(c.before);
    c.edit(text);
    const std::string joined = text.Text();
    EXPECT_EQ(joined, c.after);
    EXPECT_EQ(text.Length(), joined.size());
    std::string lines;
    for (std::size_t line = 0; line < text.LineCount(); ++line) {
      lines += (line > 0 ? "\r\n" : "") + std::string(text.Line(line));
    }
    EXPECT_EQ(lines, joined);
    // Every offset of the text read back is a place in it, and back; between
    // CR and LF is the next line's start. Counting a break as one character,
    // every offset is a place.
    for (std::size_t offset = 0; offset <= joined.size(); ++offset) {
      const TTextPos pos = text.PosAt(offset);
      if (offset > 0 && joined.compare(offset - 1, 2, "\r\n") == 0) {
        ASSERT_EQ(pos, (TTextPos{text.PosAt(offset + 1).line, 0})) << "offset " << offset;
      } else {
        ASSERT_EQ(text.Offset(pos), offset) << "offset " << offset;
      }
    }
    EXPECT_EQ(text.PosAt(joined.size() + 5), text.End());
    const std::size_t short_length = text.Length(THistoryText::kOneChar);
    EXPECT_EQ(short_length, joined.size() - (text.LineCount() - 1));
    for (std::size_t offset = 0; offset <= short_length; offset += 7) {
      ASSERT_EQ(text.Offset(text.PosAt(offset, 1), 1), offset) << "offset " << offset;
    }
  }
}

TEST(HistoryTextTest, WordMovesStopAtWordStartsAndLineEdges) {
  const THistoryText text = Made("one  two\tthree\r\nfour");
  struct Move {
    TTextPos from, left, right;
  };
  const Move cases[] = {
      {{0, 0}, {0, 0}, {0, 5}},  {{0, 5}, {0, 0}, {0, 9}},  {{0, 7}, {0, 5}, {0, 9}},
      {{0, 14}, {0, 9}, {1, 0}}, {{1, 0}, {0, 14}, {1, 4}}, {{1, 4}, {1, 0}, {1, 4}},
  };
  for (const Move& c : cases) {
    SCOPED_TRACE(testing::Message() << "from " << c.from.line << ":" << c.from.col);
    EXPECT_EQ(text.WordLeft(c.from), c.left);
    EXPECT_EQ(text.WordRight(c.from), c.right);
  }
}

}  // namespace
