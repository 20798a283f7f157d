// The Qt port's memo: a scroll area whose viewport paints the rows of the
// history that are in view (HistoryView.h) with QPainter, and hands the keys,
// the mouse, the wheel, the scroll bar, input-method commits and the context
// menu to it. For screen readers it is an editable text with the memo's name
// whose lines can be read (an accessible interface with the text interfaces);
// there a line break counts as one character, as in the clipboard's text.
#include <QAbstractScrollArea>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QBasicTimer>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyleHints>
#include <QTextBoundaryFinder>
#include <QTimerEvent>
#include <QWheelEvent>
#include <algorithm>
#include <climits>
#include <cmath>
#include <functional>
#include <optional>

#include "framework/gui/HistoryView.h"
#include "framework/gui/qt/QtPort_p.h"

namespace {

QString FromShown(std::u16string_view text) {
  return QString(reinterpret_cast<const QChar*>(text.data()), static_cast<qsizetype>(text.size()));
}

std::u16string_view ShownOf(const QString& text) {
  return std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()),
                             static_cast<std::size_t>(text.size()));
}

class KvHistory : public QAbstractScrollArea, public THistorySurface {
 public:
  explicit KvHistory(TWidgetClient* client) : view_(this) {
    qtport::Link(this, client);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setCursor(Qt::IBeamCursor);
    verticalScrollBar()->setSingleStep(1);
    connect(verticalScrollBar(), &QAbstractSlider::actionTriggered, this,
            [this](int action) { ScrollBarAction(action); });
    connect(QGuiApplication::styleHints(), &QStyleHints::cursorFlashTimeChanged, this,
            [this] { RestartBlink(); });
    view_.FontChanged();
  }

  THistoryView& View() { return view_; }

  // ---- the surface ----

  Metrics MeasureFont() override {
    // Characters placed one after another at their advances, as the view
    // measures them: no kerning, no shaping across them.
    font_ = font();
    font_.setKerning(false);
    font_.setStyleStrategy(QFont::PreferNoShaping);
    const QFontMetricsF metrics(font_);
    Metrics measured;
    for (int byte = 0; byte < 256; ++byte) {
      measured.advances[static_cast<std::size_t>(byte)] = metrics.horizontalAdvance(
          QChar(THistoryView::ShownChar(static_cast<unsigned char>(byte))));
    }
    measured.row_height = std::max(1, static_cast<int>(std::ceil(metrics.height())));
    ascent_ = metrics.ascent();
    row_height_ = measured.row_height;
    // As the plain-text edit had them: tab stops 80 pixels apart, a margin of
    // 4 pixels around the text.
    measured.tab_width = 80;
    measured.margin = 4;
    measured.top = 4;
    return measured;
  }

  void DrawRun(double x, int y, std::u16string_view text, double width, bool selected) override {
    if (selected) {
      painter_->fillRect(QRectF(x, y, width, row_height_), palette().color(QPalette::Highlight));
      painter_->setPen(palette().color(QPalette::HighlightedText));
    } else {
      painter_->setPen(palette().color(QPalette::Text));
    }
    if (!text.empty()) painter_->drawText(QPointF(x, y + ascent_), FromShown(text));
  }

  void PlaceCaret(bool shown, double x, int y) override {
    caret_ = shown ? QRectF(x, y, 1, row_height_) : QRectF();
  }

  void SetScrollBar(std::size_t max, std::size_t page, std::size_t position) override {
    // Qt's bar counts the positions the first one in view can take.
    QScrollBar* bar = verticalScrollBar();
    const auto clamp = [](std::size_t n) {
      return static_cast<int>(std::min<std::size_t>(n, INT_MAX));
    };
    bar->setRange(0, clamp(max + 1 > page ? max + 1 - page : 0));
    bar->setPageStep(clamp(page));
    bar->setValue(clamp(position));
  }

  void Repaint() override { viewport()->update(); }

  void StartTimer(int id, int ms) override {
    (id == THistoryView::kFrameTimer ? frame_timer_ : bar_timer_)
        .start(std::max(ms, 0), Qt::PreciseTimer, this);
  }

  std::u16string_view LineBreak() const override { return u"\n"; }

  void SetClipboardText(std::size_t length, const std::function<void(char16_t*)>& write) override {
    QString text(static_cast<qsizetype>(length), Qt::Uninitialized);
    write(reinterpret_cast<char16_t*>(text.data()));
    QGuiApplication::clipboard()->setText(text, clipboard_mode_);
  }

  std::u16string ClipboardText() override {
    const QString text = QGuiApplication::clipboard()->text(clipboard_mode_);
    return std::u16string(ShownOf(text));
  }

  void CaretMoved() override {
    blink_on_ = true;
    caret_moved_ = true;
    if (QAccessible::isActive()) {
      QAccessibleTextCursorEvent moved(
          this, static_cast<int>(view_.Text().Offset(view_.Text().Caret(), 1)));
      QAccessible::updateAccessibility(&moved);
    }
  }

 protected:
  bool event(QEvent* event) override {
    qtport::NoteInputForCaretBlink(event->type());
    if (event->type() == QEvent::ShortcutOverride) {
      // The keys the history takes are not the window's shortcuts.
      auto* key = static_cast<QKeyEvent*>(event);
      if (CommandOf(key) != nullptr || KeyOf(key->key()).has_value() || IsText(key)) {
        event->accept();
        return true;
      }
    }
    return QAbstractScrollArea::event(event);
  }

  bool viewportEvent(QEvent* event) override {
    qtport::NoteInputForCaretBlink(event->type());
    return QAbstractScrollArea::viewportEvent(event);
  }

  void paintEvent(QPaintEvent* event) override {
    QPainter painter(viewport());
    painter.setFont(font_);
    painter_ = &painter;
    view_.Paint(event->rect().top(), event->rect().bottom() + 1);
    painter_ = nullptr;
    if (!caret_.isNull() && hasFocus()) {
      if (!preedit_.isEmpty()) {
        // What the input method composes, at the caret, underlined.
        QFont underlined = font_;
        underlined.setUnderline(true);
        painter.setFont(underlined);
        painter.setPen(palette().color(QPalette::Text));
        painter.drawText(QPointF(caret_.left(), caret_.top() + ascent_), preedit_);
      } else if (blink_on_) {
        painter.fillRect(caret_, palette().color(QPalette::Text));
      }
    }
    if (caret_moved_) {
      caret_moved_ = false;
      if (hasFocus()) updateMicroFocus();
    }
  }

  void resizeEvent(QResizeEvent* event) override {
    view_.SetSize(event->size().width(), event->size().height());
  }

  void changeEvent(QEvent* event) override {
    if (event->type() == QEvent::FontChange) view_.FontChanged();
    if (event->type() == QEvent::PaletteChange) viewport()->update();
    QAbstractScrollArea::changeEvent(event);
  }

  void scrollContentsBy(int, int) override {}  // the view scrolls itself

  void timerEvent(QTimerEvent* event) override {
    if (event->timerId() == frame_timer_.timerId()) {
      frame_timer_.stop();
      view_.TimerFired(THistoryView::kFrameTimer);
    } else if (event->timerId() == bar_timer_.timerId()) {
      bar_timer_.stop();
      view_.TimerFired(THistoryView::kBarTimer);
    } else if (event->timerId() == blink_.timerId()) {
      blink_on_ = !blink_on_;
      viewport()->update(caret_.toAlignedRect());
    } else {
      QAbstractScrollArea::timerEvent(event);
    }
  }

  void focusInEvent(QFocusEvent* event) override {
    RestartBlink();
    viewport()->update();
    QAbstractScrollArea::focusInEvent(event);
  }

  void focusOutEvent(QFocusEvent* event) override {
    blink_.stop();
    view_.MouseUp();
    viewport()->update();
    QAbstractScrollArea::focusOutEvent(event);
  }

  void keyPressEvent(QKeyEvent* event) override {
    if (const Command command = CommandOf(event)) {
      (view_.*command)();
    } else if (const auto key = KeyOf(event->key())) {
      view_.KeyDown(*key, (event->modifiers() & Qt::ShiftModifier) != 0,
                    (event->modifiers() & Qt::ControlModifier) != 0);
    } else if (IsText(event)) {
      view_.Type(ShownOf(event->text()));
    } else {
      event->ignore();
      return;
    }
    event->accept();
    RestartBlink();
  }

  void mousePressEvent(QMouseEvent* event) override {
    const QPoint at = event->position().toPoint();
    if (event->button() == Qt::LeftButton) {
      view_.MouseDown(at.x(), at.y(), (event->modifiers() & Qt::ShiftModifier) != 0);
    } else if (event->button() == Qt::MiddleButton &&
               QGuiApplication::clipboard()->supportsSelection()) {
      // The X11 selection is pasted where the middle button is pressed.
      view_.MouseDown(at.x(), at.y(), false);
      view_.MouseUp();
      clipboard_mode_ = QClipboard::Selection;
      view_.Paste();
      clipboard_mode_ = QClipboard::Clipboard;
    }
    RestartBlink();
  }

  void mouseMoveEvent(QMouseEvent* event) override {
    if (event->buttons() & Qt::LeftButton) {
      const QPoint at = event->position().toPoint();
      view_.MouseMove(at.x(), at.y());
    }
  }

  void mouseReleaseEvent(QMouseEvent* event) override {
    if (event->button() != Qt::LeftButton) return;
    view_.MouseUp();
    OfferSelection();
  }

  void mouseDoubleClickEvent(QMouseEvent* event) override {
    if (event->button() != Qt::LeftButton) return;
    const QPoint at = event->position().toPoint();
    view_.DoubleClick(at.x(), at.y());
    OfferSelection();
  }

  void wheelEvent(QWheelEvent* event) override {
    view_.Wheel(event->angleDelta().y(), QApplication::wheelScrollLines());
    event->accept();
  }

  void contextMenuEvent(QContextMenuEvent* event) override {
    QPoint at = event->globalPos();
    if (event->reason() == QContextMenuEvent::Keyboard) {
      const THistoryView::Box caret = view_.CaretBox();
      at = viewport()->mapToGlobal(QPoint(static_cast<int>(caret.x), caret.y + caret.height));
    }
    const bool selected = view_.HasSelection();
    const QString clipboard = QGuiApplication::clipboard()->text();
    QMenu menu(this);
    auto add = [&](const char* text, bool enabled, void (THistoryView::*command)()) {
      QAction* action = menu.addAction(QString::fromUtf8(text));
      action->setEnabled(enabled);
      connect(action, &QAction::triggered, this, [this, command] { (view_.*command)(); });
    };
    add("Вы&резать", selected, &THistoryView::Cut);
    add("&Копировать", selected, &THistoryView::Copy);
    add("Вст&авить", !clipboard.isEmpty(), &THistoryView::Paste);
    add("&Удалить", selected, &THistoryView::DeleteSelection);
    menu.addSeparator();
    add("Выделить &все", view_.Text().Length() > 0, &THistoryView::SelectAll);
    menu.exec(at);
  }

  void inputMethodEvent(QInputMethodEvent* event) override {
    if (!event->commitString().isEmpty()) view_.Type(ShownOf(event->commitString()));
    preedit_ = event->preeditString();
    viewport()->update();
    event->accept();
  }

  QVariant inputMethodQuery(Qt::InputMethodQuery query) const override {
    auto* self = const_cast<KvHistory*>(this);
    const THistoryText& text = view_.Text();
    const TTextPos caret = text.Caret();
    const TTextPos anchor = text.Anchor();
    switch (query) {
      case Qt::ImEnabled:
        return true;
      case Qt::ImHints:
        return static_cast<int>(Qt::ImhMultiLine);
      case Qt::ImFont:
        return font_;
      case Qt::ImCursorRectangle:
      case Qt::ImAnchorRectangle: {
        const THistoryView::Box box =
            query == Qt::ImCursorRectangle ? self->view_.CaretBox() : self->view_.CharBox(anchor);
        return QRectF(box.x, box.y, 1, box.height).translated(viewport()->pos());
      }
      case Qt::ImCursorPosition:
        return static_cast<int>(caret.col);
      case Qt::ImAnchorPosition:
        return static_cast<int>(anchor.line == caret.line ? anchor.col : caret.col);
      case Qt::ImSurroundingText: {
        const std::size_t size = text.Line(caret.line).size();
        return FromShown(view_.Shown(TTextPos{caret.line, 0}, TTextPos{caret.line, size}, u"\n"));
      }
      case Qt::ImCurrentSelection: {
        const auto [from, to] = text.Selection();
        // A selection of a few thousand lines is enough for any input method.
        if (to.line - from.line > 1000) return QString();
        return FromShown(view_.Shown(from, to, u"\n"));
      }
      default:
        return QAbstractScrollArea::inputMethodQuery(query);
    }
  }

 private:
  using Command = void (THistoryView::*)();

  // The commands of the platform's standard keys (Ctrl+C, Ctrl+Insert, ...).
  static Command CommandOf(const QKeyEvent* key) {
    if (key->matches(QKeySequence::Copy)) return &THistoryView::Copy;
    if (key->matches(QKeySequence::Cut)) return &THistoryView::Cut;
    if (key->matches(QKeySequence::Paste)) return &THistoryView::Paste;
    if (key->matches(QKeySequence::SelectAll)) return &THistoryView::SelectAll;
    return nullptr;
  }

  static std::optional<THistoryView::Key> KeyOf(int key) {
    using K = THistoryView::Key;
    switch (key) {
      case Qt::Key_Left:
        return K::Left;
      case Qt::Key_Right:
        return K::Right;
      case Qt::Key_Up:
        return K::Up;
      case Qt::Key_Down:
        return K::Down;
      case Qt::Key_PageUp:
        return K::PageUp;
      case Qt::Key_PageDown:
        return K::PageDown;
      case Qt::Key_Home:
        return K::Home;
      case Qt::Key_End:
        return K::End;
      case Qt::Key_Delete:
        return K::Delete;
      case Qt::Key_Backspace:
        return K::Backspace;
      case Qt::Key_Return:
      case Qt::Key_Enter:
        return K::Enter;
      default:
        return std::nullopt;
    }
  }

  // A key that types text: printable, and not a shortcut with Ctrl or Alt
  // (AltGr, which reaches Qt as Ctrl+Alt on some systems, types).
  static bool IsText(const QKeyEvent* key) {
    const QString text = key->text();
    if (text.isEmpty() || !text.at(0).isPrint()) return false;
    const Qt::KeyboardModifiers held = key->modifiers() & (Qt::ControlModifier | Qt::AltModifier);
    return held == Qt::NoModifier || held == (Qt::ControlModifier | Qt::AltModifier);
  }

  void ScrollBarAction(int action) {
    QScrollBar* bar = verticalScrollBar();
    switch (action) {
      case QAbstractSlider::SliderSingleStepAdd:
      case QAbstractSlider::SliderSingleStepSub:
        view_.ScrollRows(action == QAbstractSlider::SliderSingleStepAdd ? 1 : -1);
        break;
      case QAbstractSlider::SliderPageStepAdd:
      case QAbstractSlider::SliderPageStepSub:
        view_.ScrollRows(view_.VisibleRows() *
                         (action == QAbstractSlider::SliderPageStepAdd ? 1 : -1));
        break;
      case QAbstractSlider::SliderToMinimum:
      case QAbstractSlider::SliderToMaximum:
      case QAbstractSlider::SliderMove:
        view_.ScrollToLine(static_cast<std::size_t>(std::max(bar->sliderPosition(), 0)));
        break;
      default:
        break;
    }
  }

  // The X11 selection holds what the mouse selected.
  void OfferSelection() {
    if (!view_.HasSelection() || !QGuiApplication::clipboard()->supportsSelection()) return;
    clipboard_mode_ = QClipboard::Selection;
    view_.Copy();
    clipboard_mode_ = QClipboard::Clipboard;
  }

  // The caret shows at once after input and blinks while the desktop's
  // flash time is not 0.
  void RestartBlink() {
    blink_on_ = true;
    const int flash_ms = QGuiApplication::styleHints()->cursorFlashTime();
    if (hasFocus() && flash_ms > 0) {
      blink_.start(flash_ms / 2, this);
    } else {
      blink_.stop();
    }
    if (!caret_.isNull()) viewport()->update(caret_.toAlignedRect());
  }

  THistoryView view_;
  QFont font_;        // font() as the view measured it
  qreal ascent_ = 0;  // of font_
  int row_height_ = 16;
  QPainter* painter_ = nullptr;  // during a paint
  QRectF caret_;                 // empty when out of view
  bool caret_moved_ = false;     // input methods have not heard of it
  bool blink_on_ = true;
  QBasicTimer blink_;
  QBasicTimer frame_timer_;
  QBasicTimer bar_timer_;
  QClipboard::Mode clipboard_mode_ = QClipboard::Clipboard;
  QString preedit_;
};

// ---- what a screen reader reads ----

class KvHistoryAccessible : public QAccessibleWidget,
                            public QAccessibleTextInterface,
                            public QAccessibleEditableTextInterface {
 public:
  explicit KvHistoryAccessible(KvHistory* history)
      : QAccessibleWidget(history, QAccessible::EditableText), history_(history) {}

  void* interface_cast(QAccessible::InterfaceType type) override {
    if (type == QAccessible::TextInterface) return static_cast<QAccessibleTextInterface*>(this);
    if (type == QAccessible::EditableTextInterface)
      return static_cast<QAccessibleEditableTextInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
  }

  QAccessible::State state() const override {
    QAccessible::State state = QAccessibleWidget::state();
    state.editable = true;
    state.multiLine = true;
    state.selectableText = true;
    return state;
  }

  // ---- the text ----
  void selection(int index, int* start, int* end) const override {
    *start = *end = 0;
    if (index != 0 || !Text().HasSelection()) return;
    const auto [from, to] = Text().Selection();
    *start = Offset(from);
    *end = Offset(to);
  }
  int selectionCount() const override { return Text().HasSelection() ? 1 : 0; }
  void addSelection(int start, int end) override { setSelection(0, start, end); }
  void removeSelection(int) override { View().Select(Text().Caret(), Text().Caret()); }
  void setSelection(int, int start, int end) override { View().Select(Pos(start), Pos(end)); }
  int cursorPosition() const override { return Offset(Text().Caret()); }
  void setCursorPosition(int position) override { View().Select(Pos(position), Pos(position)); }
  QString text(int start, int end) const override {
    return FromShown(View().Shown(Pos(start), Pos(end), u"\n"));
  }
  int characterCount() const override {
    return static_cast<int>(std::min<std::size_t>(Text().Length(1), INT_MAX));
  }
  QRect characterRect(int offset) const override {
    const THistoryView::Box box = View().CharBox(Pos(offset));
    const QRect rect(static_cast<int>(box.x), box.y, std::max(1, static_cast<int>(box.width)),
                     box.height);
    return QRect(history_->viewport()->mapToGlobal(rect.topLeft()), rect.size());
  }
  int offsetAtPoint(const QPoint& point) const override {
    const QPoint at = history_->viewport()->mapFromGlobal(point);
    return Offset(View().PosAtPoint(at.x(), at.y()));
  }
  void scrollToSubstring(int start, int) override { View().ScrollToLine(Pos(start).line); }
  QString attributes(int, int* start, int* end) const override {
    *start = 0;
    *end = characterCount();
    return QString();
  }

  QString textAtOffset(int offset, QAccessible::TextBoundaryType boundary, int* start,
                       int* end) const override {
    Segment(offset, boundary, start, end);
    return text(*start, *end);
  }
  QString textBeforeOffset(int offset, QAccessible::TextBoundaryType boundary, int* start,
                           int* end) const override {
    Segment(offset, boundary, start, end);
    if (*start == 0) {
      *end = 0;
      return QString();
    }
    Segment(*start - 1, boundary, start, end);
    return text(*start, *end);
  }
  QString textAfterOffset(int offset, QAccessible::TextBoundaryType boundary, int* start,
                          int* end) const override {
    Segment(offset, boundary, start, end);
    if (*end >= characterCount()) {
      *start = *end = characterCount();
      return QString();
    }
    Segment(*end, boundary, start, end);
    return text(*start, *end);
  }

  // ---- editing ----
  void deleteText(int start, int end) override {
    View().Select(Pos(start), Pos(end));
    View().DeleteSelection();
  }
  void insertText(int offset, const QString& text) override {
    View().Select(Pos(offset), Pos(offset));
    View().PasteText(ShownOf(text));
  }
  void replaceText(int start, int end, const QString& text) override {
    View().Select(Pos(start), Pos(end));
    View().PasteText(ShownOf(text));
  }

 private:
  THistoryView& View() const { return history_->View(); }
  const THistoryText& Text() const { return history_->View().Text(); }
  int Offset(TTextPos pos) const {
    return static_cast<int>(std::min<std::size_t>(Text().Offset(pos, 1), INT_MAX));
  }
  TTextPos Pos(int offset) const {
    return Text().PosAt(static_cast<std::size_t>(std::max(offset, 0)), 1);
  }

  // The character, word, line (a sentence and a paragraph are lines too) or
  // whole text that offset is in; a line with its break.
  void Segment(int offset, QAccessible::TextBoundaryType boundary, int* start, int* end) const {
    if (boundary == QAccessible::NoBoundary) {
      *start = 0;
      *end = characterCount();
      return;
    }
    const TTextPos pos = Pos(offset);
    const int line_start = Offset(TTextPos{pos.line, 0});
    const std::size_t size = Text().Line(pos.line).size();
    const bool last = pos.line + 1 == Text().LineCount();
    if (boundary != QAccessible::CharBoundary && boundary != QAccessible::WordBoundary) {
      *start = line_start;
      *end = line_start + static_cast<int>(size) + (last ? 0 : 1);
      return;
    }
    if (pos.col >= size) {  // the line's break, or the end
      *start = line_start + static_cast<int>(size);
      *end = *start + (last ? 0 : 1);
      return;
    }
    if (boundary == QAccessible::CharBoundary) {
      *start = line_start + static_cast<int>(pos.col);
      *end = *start + 1;
      return;
    }
    const QString line = text(line_start, line_start + static_cast<int>(size));
    QTextBoundaryFinder words(QTextBoundaryFinder::Word, line);
    words.setPosition(static_cast<qsizetype>(pos.col));
    const qsizetype before =
        words.isAtBoundary() ? static_cast<qsizetype>(pos.col) : words.toPreviousBoundary();
    words.setPosition(static_cast<qsizetype>(pos.col));
    const qsizetype after = words.toNextBoundary();
    *start = line_start + static_cast<int>(std::max<qsizetype>(before, 0));
    *end = line_start + static_cast<int>(after < 0 ? static_cast<qsizetype>(size) : after);
  }

  KvHistory* history_;
};

QAccessibleInterface* HistoryAccessible(const QString&, QObject* object) {
  auto* history = dynamic_cast<KvHistory*>(object);
  return history != nullptr ? new KvHistoryAccessible(history) : nullptr;
}

}  // namespace

QWidget* qtport::CreateMemoWidget(TWidgetClient* client) {
  static const bool accessible = [] {
    QAccessible::installFactory(HistoryAccessible);
    return true;
  }();
  (void)accessible;
  return new KvHistory(client);
}

namespace port {

THistoryView* MemoView(NativeWidget memo) {
  return &static_cast<KvHistory*>(memo)->View();
}

void MemoSetScrollBars(NativeWidget memo, bool vertical, bool horizontal) {
  auto* history = static_cast<KvHistory*>(memo);
  history->setVerticalScrollBarPolicy(vertical ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
  history->setHorizontalScrollBarPolicy(horizontal ? Qt::ScrollBarAlwaysOn
                                                   : Qt::ScrollBarAlwaysOff);
}

}  // namespace port
