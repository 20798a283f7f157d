#include "framework/gui/StdCtrls.h"

#include <malloc.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFrame>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyleHints>
#include <QStyleOptionSlider>
#include <QStyledItemDelegate>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <algorithm>
#include <limits>
#include <new>

#include "framework/gui/Forms.h"
#include "framework/gui/QtBridge_p.h"

namespace {

// Lone CR and LF inside a memo line are not line breaks; they show as these
// symbols, which have no Windows-1251 code, so reading back is unambiguous.
constexpr char16_t kShownCR = u'\u240D';
constexpr char16_t kShownLF = u'\u240A';

TShiftState ShiftOf(Qt::KeyboardModifiers modifiers) {
  TShiftState shift = 0;
  if (modifiers & Qt::ShiftModifier) shift |= ssShift;
  if (modifiers & Qt::AltModifier) shift |= ssAlt;
  if (modifiers & Qt::ControlModifier) shift |= ssCtrl;
  return shift;
}

// The platform's virtual key code for a key, 0 for a key without one.
std::uint16_t VirtualKeyOf(const QKeyEvent* event) {
  int key = event->key();
  if (key >= Qt::Key_0 && key <= Qt::Key_9) {
    if (event->modifiers() & Qt::KeypadModifier)
      return static_cast<std::uint16_t>(0x60 + key - Qt::Key_0);
    return static_cast<std::uint16_t>(key);
  }
  if (key >= Qt::Key_A && key <= Qt::Key_Z) return static_cast<std::uint16_t>(key);
  if (key >= Qt::Key_F1 && key <= Qt::Key_F24)
    return static_cast<std::uint16_t>(0x70 + key - Qt::Key_F1);
  switch (key) {
    case Qt::Key_Backspace:
      return VK_BACK;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
      return VK_TAB;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return VK_RETURN;
    case Qt::Key_Shift:
      return VK_SHIFT;
    case Qt::Key_Control:
      return VK_CONTROL;
    case Qt::Key_Alt:
      return VK_MENU;
    case Qt::Key_Escape:
      return VK_ESCAPE;
    case Qt::Key_Space:
      return VK_SPACE;
    case Qt::Key_PageUp:
      return 0x21;
    case Qt::Key_PageDown:
      return 0x22;
    case Qt::Key_End:
      return 0x23;
    case Qt::Key_Home:
      return 0x24;
    case Qt::Key_Left:
      return VK_LEFT;
    case Qt::Key_Up:
      return VK_UP;
    case Qt::Key_Right:
      return VK_RIGHT;
    case Qt::Key_Down:
      return VK_DOWN;
    case Qt::Key_Insert:
      return 0x2D;
    case Qt::Key_Delete:
      return VK_DELETE;
    default:
      return 0;
  }
}

void SetBaseColor(QWidget* widget, TColor color) {
  if (widget == nullptr) return;
  QPalette palette = widget->palette();
  palette.setColor(QPalette::Base, ToQColor(color));
  widget->setPalette(palette);
}

class KvPanel : public QFrame {
 public:
  KvPanel() { setFocusPolicy(Qt::NoFocus); }
  QString caption;

 protected:
  void paintEvent(QPaintEvent* event) override {
    QFrame::paintEvent(event);
    if (caption.isEmpty()) return;
    QPainter painter(this);
    painter.drawText(contentsRect(), Qt::AlignCenter, caption);
  }
};

class KvLabel : public QLabel {
 public:
  KvLabel() {
    setTextFormat(Qt::PlainText);
    setFocusPolicy(Qt::NoFocus);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setMargin(0);
    setIndent(0);
  }
};

// The caret of the edits stops blinking once the user has given no input to
// an edit for a while, as desktops do, so that an idle window does not wake
// twice a second to redraw it; the caret stays shown. Input in an edit lets
// it blink again.
class CaretBlink : public QObject {
 public:
  static void InputArrived(QEvent::Type type) {
    switch (type) {
      case QEvent::KeyPress:
      case QEvent::InputMethod:
      case QEvent::MouseButtonPress:
      case QEvent::Wheel:
      case QEvent::FocusIn:
        break;
      default:
        return;
    }
    static QPointer<CaretBlink> instance;
    if (instance == nullptr) instance = new CaretBlink(QCoreApplication::instance());
    instance->Restart();
  }

 private:
  static constexpr int kBlinkForMs = 10000;

  explicit CaretBlink(QObject* parent) : QObject(parent) {
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, [this] {
      flash_ms_ = QGuiApplication::styleHints()->cursorFlashTime();
      if (flash_ms_ > 0) QApplication::setCursorFlashTime(0);
    });
  }

  void Restart() {
    if (flash_ms_ > 0) {
      QApplication::setCursorFlashTime(flash_ms_);
      flash_ms_ = 0;
    }
    timer_.start(kBlinkForMs);
  }

  QTimer timer_;
  int flash_ms_ = 0;  // the blink's period while it is stopped; 0 while it runs
};

class KvLineEdit : public QLineEdit {
 protected:
  bool event(QEvent* event) override {
    CaretBlink::InputArrived(event->type());
    return QLineEdit::event(event);
  }

  void keyPressEvent(QKeyEvent* event) override {
    auto* edit = dynamic_cast<TEdit*>(ControlOf(this));
    QString text = event->text();
    if (edit == nullptr || text.isEmpty()) {
      QLineEdit::keyPressEvent(event);
      return;
    }
    // Each typed character goes through OnKeyPress, which may swallow or
    // replace it; unchanged characters take the edit's own path.
    std::string typed = FromQString(text);
    std::string kept;
    bool changed = false;
    bool handled = RunGuarded(edit, [&] {
      for (char original : typed) {
        char key = original;
        edit->DoKeyPress(key);
        if (key != original) changed = true;
        if (key != '\0') kept.push_back(key);
      }
    });
    if (!handled) return;
    if (!changed) {
      QLineEdit::keyPressEvent(event);
      return;
    }
    event->accept();
    // Control characters other than a kept Enter do not become text.
    std::string printable;
    for (char c : kept) {
      if (static_cast<unsigned char>(c) >= 0x20) printable.push_back(c);
    }
    if (!printable.empty()) insert(ToQString(printable));
  }

  void keyReleaseEvent(QKeyEvent* event) override {
    QLineEdit::keyReleaseEvent(event);
    if (event->isAutoRepeat()) return;
    auto* edit = dynamic_cast<TEdit*>(ControlOf(this));
    if (edit == nullptr) return;
    std::uint16_t key = VirtualKeyOf(event);
    RunGuarded(edit, [&] { edit->DoKeyUp(key, ShiftOf(event->modifiers())); });
  }
};

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
// (TMemo flushes first), before any input of the user reaches the widget, and
// by the frame's timer, so nobody sees the document without it.
class KvPlainTextEdit : public QPlainTextEdit {
 public:
  KvPlainTextEdit() {
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
    struct Done {
      KvPlainTextEdit* edit;
      ~Done() { edit->flushing_ = false; }
    } done{this};
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    if (!waiting_.isEmpty()) {
      last_insertion_blocks_ = waiting_.count(QChar::ParagraphSeparator);
      cursor.insertText(waiting_);
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

  // Forgets what waits (the whole text is being replaced).
  void Discard() {
    frame_timer_.stop();
    waiting_ = QString();
    caret_to_end_ = false;
  }

 protected:
  bool event(QEvent* event) override {
    CaretBlink::InputArrived(event->type());
    if (ReachesText(event->type())) Flush();
    return QPlainTextEdit::event(event);
  }
  bool viewportEvent(QEvent* event) override {
    CaretBlink::InputArrived(event->type());
    if (ReachesText(event->type())) Flush();
    return QPlainTextEdit::viewportEvent(event);
  }

 private:
  static constexpr qsizetype kKeptCapacity = 64 * 1024;
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

  // One frame of the widget's screen, in milliseconds.
  int FrameMs() const {
    QScreen* shown_on = screen();
    qreal rate = shown_on != nullptr ? shown_on->refreshRate() : 60.0;
    if (!(rate >= 24.0 && rate <= 240.0)) rate = 60.0;
    return static_cast<int>(1000.0 / rate);
  }

  QString waiting_;            // text not yet in the document, blocks split by U+2029
  bool caret_to_end_ = false;  // an added line still has to place the caret
  bool flushing_ = false;
  QElapsedTimer last_insertion_;
  qsizetype last_insertion_blocks_ = 0;  // line breaks that it put in
  QTimer frame_timer_;
};

class KvItemDelegate : public QStyledItemDelegate {
 public:
  KvItemDelegate(QObject* parent, const int* height)
      : QStyledItemDelegate(parent), height_(height) {}
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(*height_);
    return size;
  }

 private:
  const int* height_;
};

class KvPushButton : public QPushButton {
 public:
  KvPushButton() {
    setAutoDefault(false);
    setDefault(false);
    setFocusPolicy(Qt::StrongFocus);
  }

 protected:
  // Enter clicks the button that has the focus; with Shift, Ctrl or Alt held it
  // does nothing here.
  void keyPressEvent(QKeyEvent* event) override {
    bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    Qt::KeyboardModifiers held =
        event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
    if (enter && held == Qt::NoModifier && !event->isAutoRepeat()) {
      event->accept();
      if (auto* button = dynamic_cast<TButton*>(ControlOf(this))) {
        RunGuarded(button, [button] { button->Click(); });
      }
      return;
    }
    QPushButton::keyPressEvent(event);
  }
};

QLineEdit* LineEditOf(const TEdit* edit) {
  return static_cast<QLineEdit*>(edit->Widget());
}
KvPlainTextEdit* TextEditOf(const TMemo* memo) {
  return static_cast<KvPlainTextEdit*>(memo->Widget());
}
// The memo's widget for a reader: the lines that wait are in its document.
KvPlainTextEdit* FlushedTextEditOf(const TMemo* memo) {
  KvPlainTextEdit* edit = TextEditOf(memo);
  if (edit != nullptr) edit->Flush();
  return edit;
}
QListWidget* ListWidgetOf(const TListBox* list) {
  return static_cast<QListWidget*>(list->Widget());
}

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

// The text up to its first zero byte: what reaches a control that takes a
// zero-terminated string.
std::string_view UpToZero(const std::string& text, bool* had_zero = nullptr) {
  std::size_t zero = text.find('\0');
  if (had_zero != nullptr) *had_zero = zero != std::string::npos;
  return std::string_view(text.data(), zero == std::string::npos ? text.size() : zero);
}

}  // namespace

// ---- TPanel ----

TPanel::TPanel(TComponent* owner) : TWinControl(owner, new KvPanel) {
  SetBevelOuter(bvRaised);
}

void TPanel::SetBevelOuter(TBevelCut bevel) {
  bevel_outer_ = bevel;
  auto* frame = static_cast<KvPanel*>(Widget());
  if (frame == nullptr) return;
  switch (bevel) {
    case bvNone:
      frame->setFrameStyle(QFrame::NoFrame);
      break;
    case bvLowered:
      frame->setFrameStyle(QFrame::Panel | QFrame::Sunken);
      break;
    case bvRaised:
      frame->setFrameStyle(QFrame::Panel | QFrame::Raised);
      break;
  }
}

void TPanel::SetCaption(std::string caption) {
  caption_ = std::move(caption);
  if (auto* frame = static_cast<KvPanel*>(Widget())) {
    frame->caption = ToQString(caption_);
    frame->update();
  }
}

// ---- TLabel ----

TLabel::TLabel(TComponent* owner) : TControl(owner, new KvLabel) {}

void TLabel::SetCaption(std::string caption) {
  caption_ = std::move(caption);
  if (auto* label = static_cast<QLabel*>(Widget())) label->setText(ToQString(caption_));
  FitToCaption();
}

void TLabel::SetAutoSize(bool value) {
  auto_size_ = value;
  FitToCaption();
}

void TLabel::ApplyFont() {
  TControl::ApplyFont();
  FitToCaption();
}

void TLabel::FitToCaption() {
  auto* label = static_cast<QLabel*>(Widget());
  if (!auto_size_ || label == nullptr) return;
  QSize size = label->sizeHint();
  SetBounds(Left(), Top(), size.width(), size.height());
}

// ---- TEdit ----

TEdit::TEdit(TComponent* owner) : TWinControl(owner, new KvLineEdit) {
  QLineEdit* edit = LineEditOf(this);
  edit->setMaxLength(std::numeric_limits<int>::max());
  edit->setFocusPolicy(Qt::StrongFocus);
  SetTabStop(true);
  SetColor(clWindow);
}

std::string TEdit::Text() const {
  QLineEdit* edit = LineEditOf(this);
  return edit != nullptr ? FromQString(edit->text()) : std::string();
}

void TEdit::SetText(const std::string& text) {
  // The text reaches the control as a zero-terminated string.
  if (QLineEdit* edit = LineEditOf(this)) edit->setText(ToQString(text.substr(0, text.find('\0'))));
}

void TEdit::SelectAll() {
  if (QLineEdit* edit = LineEditOf(this)) edit->selectAll();
}

void TEdit::DoKeyUp(std::uint16_t& key, TShiftState shift) {
  if (on_key_up_) on_key_up_(this, key, shift);
}

void TEdit::DoKeyPress(char& key) {
  if (on_key_press_) on_key_press_(this, key);
}

void TEdit::ApplyColor() {
  SetBaseColor(Widget(), Color());
}

void TEdit::FocusedByHandler() {
  SelectAll();
}

// ---- TMemo ----

int TMemoLines::Count() const {
  KvPlainTextEdit* edit = FlushedTextEditOf(memo_);
  if (edit == nullptr) return 0;
  QTextDocument* document = edit->document();
  int count = document->blockCount();
  if (document->lastBlock().length() == 1) --count;  // the empty line after a final break
  return count;
}

std::string TMemoLines::Strings(int index) const {
  KvPlainTextEdit* edit = TextEditOf(memo_);
  if (edit == nullptr || index < 0 || index >= Count()) {
    throw EStringListError(Format("List index out of bounds (%d)", index));
  }
  return MemoLineText(edit->document()->findBlockByNumber(index).text());
}

void TMemoLines::Add(const std::string& line) {
  memo_->AddLine(line);
}

TMemo::TMemo(TComponent* owner) : TWinControl(owner, new KvPlainTextEdit) {
  // The document grows its text and its tables by doubling them. A block
  // below the allocator's mmap threshold, which glibc raises as large blocks
  // come and go, is moved by copying when it grows: with a long history that
  // stalls the main thread for up to a tenth of a second. A fixed threshold
  // keeps every large block in a mapping of its own, which grows in place.
  static const bool kLargeBlocksMapped = mallopt(M_MMAP_THRESHOLD, 128 * 1024) == 1;
  (void)kLargeBlocksMapped;
  Widget()->setFocusPolicy(Qt::StrongFocus);
  SetTabStop(true);
  SetColor(clWindow);
}

std::string TMemo::Text() const {
  KvPlainTextEdit* edit = FlushedTextEditOf(this);
  if (edit == nullptr) return std::string();
  std::string text;
  QTextDocument* document = edit->document();
  for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
    if (block != document->begin()) text += "\r\n";
    text += MemoLineText(block.text());
  }
  return text;
}

void TMemo::SetText(const std::string& text) {
  KvPlainTextEdit* edit = TextEditOf(this);
  if (edit == nullptr) return;
  edit->Discard();
  QString shown;
  AppendMemoText(shown, UpToZero(text));
  edit->clear();
  QTextCursor cursor(edit->document());
  cursor.insertText(shown);
}

void TMemo::AddLine(const std::string& line) {
  KvPlainTextEdit* edit = TextEditOf(this);
  if (edit == nullptr) return;
  bool had_zero = false;
  std::string_view shown = UpToZero(line, &had_zero);
  // Empty, or ending with a line break: the last line is empty. Looking at the
  // end only keeps the cost independent of the history's length.
  bool at_line_start = edit->EndsAtLineStart();
  QString text;
  if (!at_line_start) text += QChar::ParagraphSeparator;
  AppendMemoText(text, shown);
  if (at_line_start && !had_zero) text += QChar::ParagraphSeparator;
  edit->AddAtEnd(text);
}

void TMemo::Flush() {
  if (KvPlainTextEdit* edit = TextEditOf(this)) edit->Flush();
}

void TMemo::SetScrollBars(TScrollStyle style) {
  scroll_bars_ = style;
  QPlainTextEdit* edit = TextEditOf(this);
  if (edit == nullptr) return;
  bool vertical = style == ssVertical || style == ssBoth;
  bool horizontal = style == ssHorizontal || style == ssBoth;
  edit->setVerticalScrollBarPolicy(vertical ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
  edit->setHorizontalScrollBarPolicy(horizontal ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
}

void TMemo::SetReadOnly(bool value) {
  read_only_ = value;
  if (QPlainTextEdit* edit = TextEditOf(this)) edit->setReadOnly(value);
}

void TMemo::SetWordWrap(bool value) {
  word_wrap_ = value;
  if (QPlainTextEdit* edit = TextEditOf(this)) {
    edit->setLineWrapMode(value ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
  }
}

int TMemo::SelStart() const {
  KvPlainTextEdit* edit = FlushedTextEditOf(this);
  if (edit == nullptr) return 0;
  QTextCursor cursor = edit->textCursor();
  // A line break is one position in the toolkit and two (CR LF) in the text.
  QTextBlock block = edit->document()->findBlock(cursor.selectionStart());
  return cursor.selectionStart() + block.blockNumber();
}

int TMemo::SelLength() const {
  KvPlainTextEdit* edit = FlushedTextEditOf(this);
  if (edit == nullptr) return 0;
  QTextCursor cursor = edit->textCursor();
  QTextDocument* document = edit->document();
  int breaks = document->findBlock(cursor.selectionEnd()).blockNumber() -
               document->findBlock(cursor.selectionStart()).blockNumber();
  return cursor.selectionEnd() - cursor.selectionStart() + breaks;
}

void TMemo::ApplyColor() {
  SetBaseColor(Widget(), Color());
}

// ---- TListBox ----

int TListBoxItems::Count() const {
  QListWidget* list = ListWidgetOf(list_);
  return list != nullptr ? list->count() : 0;
}

std::string TListBoxItems::Strings(int index) const {
  QListWidget* list = ListWidgetOf(list_);
  if (list == nullptr || index < 0 || index >= list->count()) {
    throw EStringListError(Format("List index out of bounds (%d)", index));
  }
  return FromQString(list->item(index)->text());
}

int TListBoxItems::Add(const std::string& text) {
  QListWidget* list = ListWidgetOf(list_);
  if (list == nullptr || list->count() >= list_->capacity_) {
    throw EOutOfResources("Unable to insert a line");
  }
  try {
    list->addItem(ToQString(text));
  } catch (const std::bad_alloc&) {
    throw EOutOfResources("Unable to insert a line");
  }
  return list->count() - 1;
}

void TListBoxItems::Delete(int index) {
  QListWidget* list = ListWidgetOf(list_);
  if (list == nullptr || index < 0 || index >= list->count()) return;
  delete list->takeItem(index);
}

void TListBoxItems::Clear() {
  if (QListWidget* list = ListWidgetOf(list_)) list->clear();
}

TListBox::TListBox(TComponent* owner)
    : TWinControl(owner, new QListWidget), capacity_(std::numeric_limits<int>::max() - 1) {
  QListWidget* list = ListWidgetOf(this);
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  list->setSortingEnabled(false);
  list->setUniformItemSizes(true);
  list->setItemDelegate(new KvItemDelegate(list, &item_height_));
  list->setFocusPolicy(Qt::StrongFocus);
  SetTabStop(true);
  SetColor(clWindow);
}

int TListBox::ItemIndex() const {
  QListWidget* list = ListWidgetOf(this);
  if (list == nullptr) return -1;
  QListWidgetItem* current = list->currentItem();
  return current != nullptr && current->isSelected() ? list->row(current) : -1;
}

void TListBox::SetItemIndex(int index) {
  QListWidget* list = ListWidgetOf(this);
  if (list == nullptr) return;
  if (index < 0 || index >= list->count()) {
    list->clearSelection();
    list->setCurrentRow(-1);
    return;
  }
  list->setCurrentRow(index, QItemSelectionModel::ClearAndSelect);
}

void TListBox::SetItemHeight(int pixels) {
  item_height_ = pixels > 0 ? pixels : 1;
  if (QListWidget* list = ListWidgetOf(this)) list->doItemsLayout();
}

void TListBox::ApplyColor() {
  SetBaseColor(Widget(), Color());
}

// ---- TButton / TBitBtn ----

TButton::TButton(TComponent* owner) : TWinControl(owner, new KvPushButton) {
  SetTabStop(true);
  auto* button = static_cast<QPushButton*>(Widget());
  QObject::connect(button, &QAbstractButton::clicked, [button] {
    if (auto* control = dynamic_cast<TButton*>(ControlOf(button))) {
      RunGuarded(control, [control] { control->Click(); });
    }
  });
}

void TButton::SetCaption(std::string caption) {
  caption_ = std::move(caption);
  if (auto* button = static_cast<QPushButton*>(Widget())) button->setText(ToQString(caption_));
}

void TButton::Click() {
  if (TCustomForm* form = GetParentForm(this)) form->SetModalResult(modal_result_);
  if (on_click_) on_click_(this);
}

TBitBtn::TBitBtn(TComponent* owner) : TButton(owner) {}

void TBitBtn::Click() {
  if (kind_ == bkClose) {
    if (TCustomForm* form = GetParentForm(this)) form->CloseForm();
    return;
  }
  TButton::Click();
}
