// The history's view (framework/gui/HistoryView.h) on a surface of fixed-width
// glyphs, without any toolkit: rows wrapped as the system's edit wraps them,
// what a paint draws, the view keeping the end in view, the caret moved by
// keys and the mouse, and the clipboard's text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/core/Ansi.h"
#include "framework/gui/HistoryView.h"

namespace {

using namespace std::string_literals;

constexpr int kGlyph = 10;  // every character is 10 pixels wide and 10 high

// Records what the view draws; the clipboard is a string.
class FakeSurface : public THistorySurface {
 public:
  struct Run {
    int x, y;
    std::u16string text;
    bool selected;
  };

  Metrics MeasureFont() override {
    Metrics metrics;
    metrics.advances.fill(kGlyph);
    metrics.row_height = kGlyph;
    metrics.tab_width = 4 * kGlyph;
    metrics.margin = 0;
    metrics.top = 0;
    return metrics;
  }
  void DrawRun(double x, int y, std::u16string_view text, double, bool selected) override {
    runs.push_back(Run{static_cast<int>(x), y, std::u16string(text), selected});
  }
  void PlaceCaret(bool shown, double x, int y) override {
    caret_shown = shown;
    caret_x = static_cast<int>(x);
    caret_y = y;
  }
  void SetScrollBar(std::size_t max, std::size_t page, std::size_t position) override {
    bar = {max, page, position};
  }
  void Repaint() override { ++repaints; }
  void StartTimer(int, int) override {}
  std::u16string_view LineBreak() const override { return line_break; }
  void SetClipboardText(std::size_t length, const std::function<void(char16_t*)>& write) override {
    clipboard.assign(length, u'\0');
    write(clipboard.data());
  }
  std::u16string ClipboardText() override { return clipboard; }

  std::vector<Run> runs;
  bool caret_shown = false;
  int caret_x = 0, caret_y = 0;
  std::vector<std::size_t> bar;
  int repaints = 0;
  std::u16string line_break = u"\r\n";
  std::u16string clipboard;
};

// Shown text as UTF-8 (the view shows characters of the Basic Multilingual
// Plane only).
std::string Utf8(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// A view of `columns` characters by `rows` rows.
class HistoryViewTest : public ::testing::Test {
 protected:
  void Open(int columns, int rows) {
    view_.FontChanged();
    view_.SetSize(columns * kGlyph, rows * kGlyph);
  }
  // Paints the whole view; returns each row's text, selected runs in [].
  std::vector<std::string> Painted() {
    surface_.runs.clear();
    view_.Paint(0, 1 << 20);
    std::vector<std::string> rows;
    for (const FakeSurface::Run& run : surface_.runs) {
      const std::size_t row = static_cast<std::size_t>(run.y / kGlyph);
      if (rows.size() <= row) rows.resize(row + 1);
      const std::string text = Utf8(run.text);
      rows[row] += run.selected ? "[" + text + "]" : text;
    }
    return rows;
  }
  void Key(THistoryView::Key key, bool shift = false, bool control = false) {
    view_.KeyDown(key, shift, control);
  }
  TTextPos Caret() const { return view_.Text().Caret(); }

  FakeSurface surface_;
  THistoryView view_{&surface_};
};

using K = THistoryView::Key;

TEST_F(HistoryViewTest, LinesWrapAsTheSystemsEditWrapsThem) {
  struct Wrap {
    const char* rule;
    std::string line;
    std::vector<std::string> rows;
  };
  const Wrap cases[] = {
      {"a line that fits is one row", "0123456789", {"0123456789"}},
      {"at the last space that fits", "abc defg hij", {"abc defg ", "hij"}},
      {"spaces hang past the width", "abcdefghij   klm", {"abcdefghij   ", "klm"}},
      {"a word wider than the width is broken where it ends",
       "abcdefghijklmnopqrstuvwxy",
       {"abcdefghij", "klmnopqrst", "uvwxy"}},
      {"a tab advances to the next stop", "ab\tcd\tefgh", {"abcdef", "gh"}},
      {"lone CR and LF show as their symbols", "a\rb\nc", {"a\u240Db\u240Ac"}},
  };
  Open(10, 5);
  for (const Wrap& c : cases) {
    SCOPED_TRACE(c.rule);
    view_.SetText(c.line);
    EXPECT_EQ(Painted(), c.rows);
  }
  // Where the tab left its gap: "cd" starts at the stop, 4 glyphs in.
  view_.SetText("ab\tcd");
  Painted();
  ASSERT_EQ(surface_.runs.size(), 2u);
  EXPECT_EQ(surface_.runs[1].x, 4 * kGlyph);
}

TEST_F(HistoryViewTest, TheViewKeepsTheEndInViewUntilTheUserScrollsAway) {
  Open(10, 3);
  for (int i = 0; i < 5; ++i) view_.AddLine("line " + std::to_string(i));
  // The text ends with a line break: its last row is the empty line after it.
  EXPECT_EQ(Painted(), (std::vector<std::string>{"line 3", "line 4"}));
  EXPECT_EQ(surface_.bar, (std::vector<std::size_t>{5, 3, 3}));
  view_.ScrollRows(-2);
  EXPECT_EQ(Painted(), (std::vector<std::string>{"line 1", "line 2", "line 3"}));
  view_.AddLine("line 5");
  EXPECT_EQ(Painted(), (std::vector<std::string>{"line 1", "line 2", "line 3"}));
  // When the line at the top goes with the oldest, the view shows the start.
  view_.SetMaxLines(4);
  EXPECT_EQ(Painted(), (std::vector<std::string>{"line 2", "line 3", "line 4"}));
  // Scrolled back to the end, it follows the end again.
  view_.ScrollRows(10);
  view_.AddLine("line 6");
  EXPECT_EQ(Painted(), (std::vector<std::string>{"line 5", "line 6"}));
  // A wrapped line scrolls by rows.
  view_.SetText("abcdefghij klmnopqrst uvwxyz\r\nend");
  EXPECT_EQ(Painted(), (std::vector<std::string>{"abcdefghij ", "klmnopqrst ", "uvwxyz"}));
  view_.ScrollRows(5);
  EXPECT_EQ(Painted(), (std::vector<std::string>{"klmnopqrst ", "uvwxyz", "end"}));
}

TEST_F(HistoryViewTest, KeysAndTheMouseMoveTheCaretAndTheSelection) {
  Open(10, 3);
  view_.SetText("abcdefghij klmnopqrst uv\r\nshort\r\n\r\nlast line");
  struct Step {
    const char* what;
    std::function<void()> act;
    TTextPos caret;
  };
  const Step steps[] = {
      {"Down keeps the column across a wrapped row", [&] { Key(K::Down); }, {0, 11}},
      {"End of a wrapped row stops before the space it wrapped at", [&] { Key(K::End); }, {0, 21}},
      {"Down to a shorter row goes to its end", [&] { Key(K::Down); }, {0, 24}},
      {"Down again into the next line", [&] { Key(K::Down); }, {1, 5}},
      {"and into an empty line", [&] { Key(K::Down); }, {2, 0}},
      {"the column is kept for the line after it", [&] { Key(K::Down); }, {3, 9}},
      {"Home goes to the row's start", [&] { Key(K::Home); }, {3, 0}},
      {"Left at a line's start goes to the end of the line before", [&] { Key(K::Left); }, {2, 0}},
      {"Ctrl+Home goes to the start", [&] { Key(K::Home, false, true); }, {0, 0}},
      {"Ctrl+Right goes to the next word", [&] { Key(K::Right, false, true); }, {0, 11}},
      {"a click goes to the nearest column", [&] { view_.MouseDown(34, 5, false); }, {0, 3}},
      {"Shift+click extends the selection",
       [&] {
         view_.MouseUp();
         view_.MouseDown(24, 15, true);
       },
       {0, 13}},
      {"a drag past the bottom scrolls and extends",
       [&] {
         view_.MouseMove(0, 45);
         view_.MouseUp();
       },
       {1, 0}},
      {"a double click selects the word",
       [&] {
         Key(K::Home, false, true);
         view_.DoubleClick(12, 5);
       },
       {0, 10}},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    step.act();
    EXPECT_EQ(Caret(), step.caret) << Caret().line << ":" << Caret().col;
  }
  EXPECT_EQ(view_.Text().Anchor(), (TTextPos{0, 0}));
  EXPECT_EQ(Painted()[0], "[abcdefghij] ");
}

TEST_F(HistoryViewTest, EditsByTheUserAndTheClipboardKeepEveryByte) {
  Open(40, 5);
  view_.SetText("one\r\ntwo\rthree");
  Key(K::End, false, true);
  Key(K::Home, true);
  view_.Copy();
  EXPECT_EQ(surface_.clipboard, u"two\u240Dthree");
  view_.SelectAll();
  view_.Copy();
  EXPECT_EQ(surface_.clipboard, u"one\r\ntwo\u240Dthree");
  surface_.line_break = u"\n";
  view_.Copy();
  EXPECT_EQ(surface_.clipboard, u"one\ntwo\u240Dthree");

  struct Paste {
    const char* what;
    std::u16string line_break;
    std::u16string clipboard;
    std::string text;
  };
  const Paste pastes[] = {
      {"CR LF breaks a line on every platform", u"\r\n", u"a\r\nb", "a\r\nb"},
      {"a lone LF where the platform's break is CR LF stays a byte", u"\r\n", u"a\nb", "a\nb"},
      {"and breaks the line where it is LF", u"\n", u"a\nb\r\nc", "a\r\nb\r\nc"},
      {"the symbols are the bytes again", u"\n", u"a\u240Db\u240Ac", "a\rb\nc"},
      {"Cyrillic in the code page, the rest as ?", u"\n", u"Жук\u4E2D", Ansi("Жук?")},
      {"a zero character ends the text", u"\n", u"ab"s + u'\0' + u"cd", "ab"},
  };
  for (const Paste& p : pastes) {
    SCOPED_TRACE(p.what);
    view_.SetText("");
    surface_.line_break = p.line_break;
    surface_.clipboard = p.clipboard;
    view_.Paste();
    EXPECT_EQ(view_.Text().Text(), p.text);
    EXPECT_EQ(Caret(), view_.Text().End());
  }

  view_.SetText("ab");
  surface_.line_break = u"\r\n";
  Key(K::End);
  view_.Type(
      u"c\t\x1B\x7F"
      u"Д");
  Key(K::Enter);
  Key(K::Left, true);
  Key(K::Left, true);
  view_.Cut();
  EXPECT_EQ(view_.Text().Text(), "abc");
  EXPECT_EQ(surface_.clipboard, u"Д\r\n");
  Key(K::Backspace);
  Key(K::Home);
  Key(K::Delete);
  EXPECT_EQ(view_.Text().Text(), "b");
}

}  // namespace
