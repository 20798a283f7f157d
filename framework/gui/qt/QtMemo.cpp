// The Qt port's memo: a plain-text edit that holds back lines added in quick
// succession until the end of the display's frame, and the memo's operations.
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollBar>
#include <QStyleOptionSlider>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <algorithm>

#include "framework/core/ScopeGuard.h"
#include "framework/gui/qt/QtPort_p.h"

namespace {

// Lone CR and LF inside a memo line are not line breaks; they show as these
// symbols, which have no Windows-1251 code, so reading back is unambiguous.
constexpr char16_t kShownCR = u'\u240D';
constexpr char16_t kShownLF = u'\u240A';

// Memo text as the toolkit holds it: CR LF pairs as block breaks (U+2029),
// lone CR and LF as their symbols.
void AppendMemoText(QString& out, std::string_view ansi) {
  std::u16string text = AnsiToUtf16(ansi);
  out.reserve(out.size() + static_cast<qsizetype>(text.size()) + 1);
  for (std::size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
      out += QChar::ParagraphSeparator;
      ++i;
    } else if (c == u'\r') {
      out += QChar(kShownCR);
    } else if (c == u'\n') {
      out += QChar(kShownLF);
    } else {
      out += QChar(c);
    }
  }
}

std::string MemoLineText(const QString& line) {
  std::u16string text(reinterpret_cast<const char16_t*>(line.utf16()),
                      static_cast<std::size_t>(line.size()));
  std::string result;
  std::size_t start = 0;
  // A soft line break typed by the user reads back as a line break.
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && text[i] != kShownCR && text[i] != kShownLF && text[i] != u'\u2028')
      continue;
    result += Utf16ToAnsi(std::u16string_view(text).substr(start, i - start));
    if (i < text.size()) result += text[i] == kShownCR ? "\r" : text[i] == kShownLF ? "\n" : "\r\n";
    start = i + 1;
  }
  return result;
}

// A scroll bar that repaints only when what it shows changes. The history's
// range and position change with every frame of added lines, while the slider
// of a long history stays on the same pixels; and drawing a scroll bar costs
// more than drawing the lines in some styles.
class KvScrollBar : public QScrollBar {
 public:
  explicit KvScrollBar(Qt::Orientation orientation) : QScrollBar(orientation) {}

 protected:
  // A change of range or position is looked at once the change that caused
  // it is complete (the edit sets the range and then the position), and
  // repaints only if the scroll bar would look different.
  void sliderChange(SliderChange change) override {
    if (change != SliderRangeChange && change != SliderValueChange) {
      QScrollBar::sliderChange(change);
      return;
    }
    if (look_check_pending_) return;
    look_check_pending_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
          look_check_pending_ = false;
          if (CurrentLook() != shown_) update();
        },
        Qt::QueuedConnection);
  }

  void paintEvent(QPaintEvent* event) override {
    shown_ = CurrentLook();
    QScrollBar::paintEvent(event);
  }

 private:
  struct Look {
    QRect slider;
    bool can_go_back = false;
    bool can_go_on = false;
    bool operator==(const Look&) const = default;
  };

  Look CurrentLook() const {
    QStyleOptionSlider option;
    initStyleOption(&option);
    return Look{
        style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this),
        value() > minimum(), value() < maximum()};
  }

  Look shown_;  // as last painted
  bool look_check_pending_ = false;
};

// The memo's widget, which also holds back lines added in quick succession.
//
// Adding a line is cheap only when lines go into the document together: every
// change of the document costs a layout update, a scroll-bar update and a
// repaint, and a line that goes in on its own is laid out at once to bring the
// caret into view, and keeps that layout, while lines that go in together are
// laid out only when they are shown. So a line added within one frame of the
// display after the last insertion (three during a flood, see WaitMs) waits,
// with the others of that frame, and they go into the document in one
// insertion at the end of the frame; a line added after a quiet frame goes in
// at once. What waits is put in before anything reads the text or the caret
// (every read of the port flushes first), before any input of the user reaches the widget, and
// by the frame's timer, so nobody sees the document without it.
class KvPlainTextEdit : public QPlainTextEdit {
 public:
  explicit KvPlainTextEdit(TWidgetClient* client) {
    qtport::Link(this, client);
    setFocusPolicy(Qt::StrongFocus);
    setTabChangesFocus(true);
    setUndoRedoEnabled(false);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBar(new KvScrollBar(Qt::Vertical));
    // The edit pages by whole lines when the groove is clicked; it listens to
    // the scroll bar it made itself, so the new one is tied in the same way.
    connect(verticalScrollBar(), SIGNAL(actionTriggered(int)), this,
            SLOT(_q_verticalScrollbarActionTriggered(int)));
    frame_timer_.setSingleShot(true);
    frame_timer_.setTimerType(Qt::PreciseTimer);
    connect(&frame_timer_, &QTimer::timeout, this, [this] { Flush(); });
    // The caret or selection set by anyone else after a line was added stays
    // where it was put: the line's "caret after the insertion" came first.
    auto caret_moved = [this] {
      if (!flushing_) caret_to_end_ = false;
    };
    connect(this, &QPlainTextEdit::cursorPositionChanged, this, caret_moved);
    connect(this, &QPlainTextEdit::selectionChanged, this, caret_moved);
  }

  // Whether the text, with what waits, is empty or ends with a line break.
  bool EndsAtLineStart() const {
    if (!waiting_.isEmpty()) return waiting_.back() == QChar::ParagraphSeparator;
    return document()->lastBlock().length() == 1;
  }

  // Adds text (blocks separated by U+2029) at the end of the document, moves
  // the caret after it and gives up the selection: now, or at the end of the
  // frame when text went in less than a frame ago.
  void AddAtEnd(const QString& text) {
    waiting_ += text;
    caret_to_end_ = true;
    const int wait_ms = WaitMs();
    if (!last_insertion_.isValid() || last_insertion_.elapsed() >= wait_ms) {
      Flush();
    } else if (!frame_timer_.isActive()) {
      frame_timer_.start(
          static_cast<int>(std::max<qint64>(0, wait_ms - last_insertion_.elapsed())));
    }
  }

  // Puts in what waits. Every reader of the document calls this first.
  void Flush() {
    // The insertion itself makes the widget answer input-method queries,
    // which arrive here again; they find the text going in already.
    if (flushing_) return;
    frame_timer_.stop();
    if (!caret_to_end_ && waiting_.isEmpty()) return;
    flushing_ = true;
    ScopeGuard done([this] { flushing_ = false; });
    // Set, not moved, to the end: moving lays out the line it starts from,
    // the first (see DropOldestLines).
    QTextCursor cursor(document());
    cursor.setPosition(document()->characterCount() - 1);
    if (!waiting_.isEmpty()) {
      last_insertion_blocks_ = waiting_.count(QChar::ParagraphSeparator);
      cursor.insertText(waiting_);
      if (trimmed_) {
        DropOldestLines(Slice());
      } else {
        DropOldestLines(/*slack=*/0, kCompactedChars);
      }
      // Keeps the capacity that one frame needed, not more than a little.
      if (waiting_.capacity() > kKeptCapacity) {
        waiting_ = QString();
      } else {
        waiting_.truncate(0);
      }
      last_insertion_.start();
    }
    if (caret_to_end_) {
      caret_to_end_ = false;
      setTextCursor(cursor);
      ensureCursorVisible();
    }
  }

  // At most lines lines from now on (0: no limit); more go at once.
  void SetMaxLines(int lines) {
    Flush();
    max_lines_ = lines;
    DropOldestLines(/*slack=*/0);
  }

  // Removes the first lines beyond the limit, in one edit, once there are
  // more than slack of them and, short of a slice of them, their text holds
  // min_chars characters. A final empty block is no line. Its cost follows
  // the lines removed, not those kept, except for the document's compaction
  // of its text (see Slice).
  //
  // Nothing here may lay out one of the first lines, as a cursor does with
  // the line it is on when it moves or edits. The edit's layout remembers
  // its widest line by number and does not renumber it when lines before it
  // go, so after a removal that number names one of the first lines. Laying
  // that line out, when it is narrower, makes the layout look for the widest
  // line again through the whole history, which gives every line a layout of
  // its own until the line goes: some 300 bytes a line, so that at the limit
  // memory grew by the history's size again, and each slice paid a walk
  // through every line. Inside an edit block the cursor that removes the
  // lines leaves the layout of the line it stops at, the new first one, for
  // later, which for this cursor never comes.
  void DropOldestLines(int slack, int min_chars = 0) {
    if (max_lines_ <= 0) return;
    QTextDocument* text = document();
    const int lines = text->blockCount() - (text->lastBlock().length() == 1 ? 1 : 0);
    const int excess = lines - max_lines_;
    if (excess <= slack) return;
    const int kept_from = text->findBlockByNumber(excess).position();
    if (kept_from < min_chars && excess <= Slice()) return;
    QTextCursor oldest(text);
    oldest.beginEditBlock();
    oldest.setPosition(kept_from, QTextCursor::KeepAnchor);
    oldest.removeSelectedText();
    oldest.endEditBlock();
    trimmed_ = true;
  }

  // Forgets what waits (the whole text is being replaced).
  void Discard() {
    trimmed_ = false;
    frame_timer_.stop();
    waiting_ = QString();
    caret_to_end_ = false;
  }

 protected:
  bool event(QEvent* event) override {
    qtport::NoteInputForCaretBlink(event->type());
    if (ReachesText(event->type())) Flush();
    return QPlainTextEdit::event(event);
  }
  bool viewportEvent(QEvent* event) override {
    qtport::NoteInputForCaretBlink(event->type());
    if (ReachesText(event->type())) Flush();
    return QPlainTextEdit::viewportEvent(event);
  }

 private:
  static constexpr qsizetype kKeptCapacity = 64 * 1024;
  // The document compacts its text buffer only after more than 96 KB of
  // removed text (48K characters); the first lines beyond the limit wait
  // until there is more than that of them (see trimmed_).
  static constexpr int kCompactedChars = 64 * 1024;
  static constexpr qsizetype kFloodBlocks = 64;

  // The user's input, and the queries of input methods and assistive tools,
  // which read the text around the caret or change it.
  static bool ReachesText(QEvent::Type type) {
    switch (type) {
      case QEvent::KeyPress:
      case QEvent::KeyRelease:
      case QEvent::ShortcutOverride:
      case QEvent::InputMethod:
      case QEvent::InputMethodQuery:
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonDblClick:
      case QEvent::MouseButtonRelease:
      case QEvent::Wheel:
      case QEvent::ContextMenu:
      case QEvent::DragEnter:
      case QEvent::DragMove:
      case QEvent::Drop:
      case QEvent::TouchBegin:
        return true;
      default:
        return false;
    }
  }

  // How long lines wait after an insertion: one frame of the display, or
  // three while lines come faster than anyone reads them (more than
  // kFloodBlocks in the last insertion). Every line that is shown keeps its
  // layout for good, so fewer frames during a flood also mean less memory
  // per line, besides less time spent laying out and painting.
  int WaitMs() const { return last_insertion_blocks_ > kFloodBlocks ? 3 * FrameMs() : FrameMs(); }

  // How many lines beyond the limit the history holds before the oldest go.
  // The document keeps the text of removed lines until it compacts its text
  // buffer, which copies the whole remaining text (about 200 ms at 1,000,000
  // lines), and once the buffer is nearly full, as it stays at the limit, it
  // compacts after every removal. Removing a slice at a time makes that one
  // copy per slice: a few microseconds per added line. Not much more than a
  // fortieth: a full history of 64-byte lines (130 MB of text) sits just
  // below the buffer's next doubling, and a slice that pushed it past would
  // let it grow to nearly twice the text before the next compaction. For the
  // same reason the first lines beyond the limit go long before a slice of
  // them is there (see trimmed_).
  int Slice() const { return max_lines_ / 40; }

  // One frame of the widget's screen, in milliseconds.
  int FrameMs() const {
    QScreen* shown_on = screen();
    qreal rate = shown_on != nullptr ? shown_on->refreshRate() : 60.0;
    if (!(rate >= 24.0 && rate <= 240.0)) rate = 60.0;
    return static_cast<int>(1000.0 / rate);
  }

  int max_lines_ = 0;          // 0: no limit
  QString waiting_;            // text not yet in the document, blocks split by U+2029
  bool caret_to_end_ = false;  // an added line still has to place the caret
  bool flushing_ = false;
  // Lines beyond the limit have gone since the text was set. Until the
  // document first compacts its buffer, the buffer also holds every added
  // line's break twice, and a slice more would make it double. So the first
  // lines beyond the limit go once their text is enough for the document to
  // compact (kCompactedChars): the few of one frame are not, and with them
  // gone the buffer still doubled before the first slice, then kept removed
  // text until it was nine tenths full (some 100 MB more at 1,000,000 lines
  // for several minutes of a flood).
  bool trimmed_ = false;
  QElapsedTimer last_insertion_;
  qsizetype last_insertion_blocks_ = 0;  // line breaks that it put in
  QTimer frame_timer_;
};

KvPlainTextEdit* Edit(NativeWidget memo) {
  return static_cast<KvPlainTextEdit*>(memo);
}
// The memo's widget for a reader: the lines that wait are in its document.
KvPlainTextEdit* Flushed(NativeWidget memo) {
  KvPlainTextEdit* edit = Edit(memo);
  edit->Flush();
  return edit;
}

}  // namespace

QWidget* qtport::CreateMemoWidget(TWidgetClient* client) {
  return new KvPlainTextEdit(client);
}

namespace port {

bool MemoEndsAtLineStart(NativeWidget memo) {
  return Edit(memo)->EndsAtLineStart();
}

void MemoAddAtEnd(NativeWidget memo, std::string_view line, bool break_before, bool break_after) {
  QString text;
  if (break_before) text += QChar::ParagraphSeparator;
  AppendMemoText(text, line);
  if (break_after) text += QChar::ParagraphSeparator;
  Edit(memo)->AddAtEnd(text);
}

void MemoFlush(NativeWidget memo) {
  Edit(memo)->Flush();
}

void MemoSetText(NativeWidget memo, std::string_view text) {
  KvPlainTextEdit* edit = Edit(memo);
  edit->Discard();
  QString shown;
  AppendMemoText(shown, text);
  edit->clear();
  QTextCursor cursor(edit->document());
  cursor.insertText(shown);
  edit->DropOldestLines(/*slack=*/0);
}

std::string MemoText(NativeWidget memo) {
  QTextDocument* document = Flushed(memo)->document();
  std::string text;
  for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
    if (block != document->begin()) text += "\r\n";
    text += MemoLineText(block.text());
  }
  return text;
}

int MemoBlockCount(NativeWidget memo) {
  return Flushed(memo)->document()->blockCount();
}

std::string MemoLine(NativeWidget memo, int index) {
  return MemoLineText(Flushed(memo)->document()->findBlockByNumber(index).text());
}

int MemoSelStart(NativeWidget memo) {
  KvPlainTextEdit* edit = Flushed(memo);
  QTextCursor cursor = edit->textCursor();
  // A line break is one position in the toolkit and two (CR LF) in the text.
  QTextBlock block = edit->document()->findBlock(cursor.selectionStart());
  return cursor.selectionStart() + block.blockNumber();
}

int MemoSelLength(NativeWidget memo) {
  KvPlainTextEdit* edit = Flushed(memo);
  QTextCursor cursor = edit->textCursor();
  QTextDocument* document = edit->document();
  int breaks = document->findBlock(cursor.selectionEnd()).blockNumber() -
               document->findBlock(cursor.selectionStart()).blockNumber();
  return cursor.selectionEnd() - cursor.selectionStart() + breaks;
}

void MemoSetMaxLines(NativeWidget memo, int lines) {
  Edit(memo)->SetMaxLines(lines);
}

void MemoSetScrollBars(NativeWidget memo, bool vertical, bool horizontal) {
  KvPlainTextEdit* edit = Edit(memo);
  edit->setVerticalScrollBarPolicy(vertical ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
  edit->setHorizontalScrollBarPolicy(horizontal ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
}

}  // namespace port
