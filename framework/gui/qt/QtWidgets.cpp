// The Qt port's widgets: one Qt widget per kind of control and the operations
// on every widget (the memo's are in QtMemo.cpp, the windows' in QtWindows.cpp).
// Each widget reports to the client it was made for, held from its creation.
#include <QAbstractScrollArea>
#include <QApplication>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPalette>
#include <QPointer>
#include <QPushButton>
#include <QStyleHints>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QVariant>
#include <iterator>
#include <limits>

#include "framework/gui/qt/QtPort_p.h"

namespace {

constexpr char kClientProperty[] = "kvControl";

TShiftState ShiftOf(Qt::KeyboardModifiers modifiers) {
  TShiftState shift = 0;
  if (modifiers & Qt::ShiftModifier) shift |= ssShift;
  if (modifiers & Qt::AltModifier) shift |= ssAlt;
  if (modifiers & Qt::ControlModifier) shift |= ssCtrl;
  return shift;
}

// The platform's virtual key codes of the keys that are not a digit, a letter
// or a function key.
struct KeyCode {
  int qt_key;
  std::uint16_t virtual_key;
};
constexpr KeyCode kKeyCodes[] = {
    {Qt::Key_Backspace, 0x08}, {Qt::Key_Tab, 0x09},    {Qt::Key_Backtab, 0x09},
    {Qt::Key_Return, 0x0D},    {Qt::Key_Enter, 0x0D},  {Qt::Key_Shift, 0x10},
    {Qt::Key_Control, 0x11},   {Qt::Key_Alt, 0x12},    {Qt::Key_Escape, 0x1B},
    {Qt::Key_Space, 0x20},     {Qt::Key_PageUp, 0x21}, {Qt::Key_PageDown, 0x22},
    {Qt::Key_End, 0x23},       {Qt::Key_Home, 0x24},   {Qt::Key_Left, 0x25},
    {Qt::Key_Up, 0x26},        {Qt::Key_Right, 0x27},  {Qt::Key_Down, 0x28},
    {Qt::Key_Insert, 0x2D},    {Qt::Key_Delete, 0x2E},
};

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
  for (const KeyCode& code : kKeyCodes) {
    if (code.qt_key == key) return code.virtual_key;
  }
  return 0;
}

// The caret of the edits stops blinking once the user has given no input to
// an edit for a while, as desktops do, so that an idle window does not wake
// twice a second to redraw it; the caret stays shown. Input in an edit lets
// it blink again.
class CaretBlink : public QObject {
 public:
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

 private:
  static constexpr int kBlinkForMs = 10000;

  QTimer timer_;
  int flash_ms_ = 0;  // the blink's period while it is stopped; 0 while it runs
};

class KvLineEdit : public QLineEdit {
 public:
  explicit KvLineEdit(TWidgetClient* client) : client_(client) {
    setMaxLength(std::numeric_limits<int>::max());
    setFocusPolicy(Qt::StrongFocus);
  }

 protected:
  bool event(QEvent* event) override {
    qtport::NoteInputForCaretBlink(event->type());
    return QLineEdit::event(event);
  }

  void keyPressEvent(QKeyEvent* event) override {
    QString text = event->text();
    if (text.isEmpty()) {
      QLineEdit::keyPressEvent(event);
      return;
    }
    // Each typed character goes to the client, which may swallow or replace
    // it; unchanged characters take the edit's own path.
    std::string typed = qtport::FromQString(text);
    std::string kept;
    bool changed = false;
    bool handled = qtport::RunGuarded(client_, [&] {
      for (char original : typed) {
        char key = original;
        client_->WidgetKeyPress(key);
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
    if (!printable.empty()) insert(qtport::ToQString(printable));
  }

  void keyReleaseEvent(QKeyEvent* event) override {
    QLineEdit::keyReleaseEvent(event);
    if (event->isAutoRepeat()) return;
    std::uint16_t key = VirtualKeyOf(event);
    TShiftState shift = ShiftOf(event->modifiers());
    qtport::RunGuarded(client_, [&] { client_->WidgetKeyUp(key, shift); });
  }

 private:
  TWidgetClient* client_;
};

class KvItemDelegate : public QStyledItemDelegate {
 public:
  explicit KvItemDelegate(QObject* parent) : QStyledItemDelegate(parent) {}
  int height = 13;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(height);
    return size;
  }
};

class KvPushButton : public QPushButton {
 public:
  explicit KvPushButton(TWidgetClient* client) : client_(client) {
    setAutoDefault(false);
    setDefault(false);
    setFocusPolicy(Qt::StrongFocus);
    connect(this, &QAbstractButton::clicked, this, [this] { Click(); });
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
      Click();
      return;
    }
    QPushButton::keyPressEvent(event);
  }

 private:
  void Click() {
    qtport::RunGuarded(client_, [this] { client_->WidgetClicked(); });
  }

  TWidgetClient* client_;
};

QWidget* MakeWidget(port::WidgetKind kind, TWidgetClient* client) {
  switch (kind) {
    case port::WidgetKind::Window:
      return qtport::CreateWindowWidget(client);
    case port::WidgetKind::Panel: {
      auto* panel = new QFrame;
      panel->setFocusPolicy(Qt::NoFocus);
      return panel;
    }
    case port::WidgetKind::Label: {
      auto* label = new QLabel;
      label->setTextFormat(Qt::PlainText);
      label->setFocusPolicy(Qt::NoFocus);
      label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
      label->setMargin(0);
      label->setIndent(0);
      return label;
    }
    case port::WidgetKind::Edit:
      return new KvLineEdit(client);
    case port::WidgetKind::Memo:
      return qtport::CreateMemoWidget(client);
    case port::WidgetKind::ListBox: {
      auto* list = new QListWidget;
      list->setSelectionMode(QAbstractItemView::SingleSelection);
      list->setSortingEnabled(false);
      list->setUniformItemSizes(true);
      list->setItemDelegate(new KvItemDelegate(list));
      list->setFocusPolicy(Qt::StrongFocus);
      return list;
    }
    case port::WidgetKind::Button:
      return new KvPushButton(client);
  }
  return nullptr;
}

QListWidget* List(NativeWidget widget) {
  return static_cast<QListWidget*>(widget);
}

}  // namespace

// ---- shared by the port's files ----

QColor qtport::ToQColor(TColor color) {
  if (IsSystemColor(color)) {
    QPalette palette = QApplication::palette();
    switch (color) {
      case clWindow:
        return palette.color(QPalette::Active, QPalette::Base);
      case clWindowText:
        return palette.color(QPalette::Active, QPalette::Text);
      case clBtnText:
        return palette.color(QPalette::Active, QPalette::ButtonText);
      case clBtnFace:
      default:
        return palette.color(QPalette::Active, QPalette::Window);
    }
  }
  return QColor(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF);
}

QFont qtport::ToQFont(const TFont& font) {
  QFont result(ToQString(font.Name()));
  result.setPixelSize(font.Height() > 0 ? font.Height() : 1);
  result.setBold((font.Style() & fsBold) != 0);
  result.setItalic((font.Style() & fsItalic) != 0);
  result.setUnderline((font.Style() & fsUnderline) != 0);
  result.setStrikeOut((font.Style() & fsStrikeOut) != 0);
  return result;
}

TWidgetClient* qtport::ClientOf(const QObject* object) {
  for (; object != nullptr; object = object->parent()) {
    QVariant link = object->property(kClientProperty);
    if (link.isValid()) return reinterpret_cast<TWidgetClient*>(link.value<quintptr>());
    // A window's inner parts belong to it, not to the widget that owns it.
    if (object->isWidgetType() && static_cast<const QWidget*>(object)->isWindow()) break;
  }
  return nullptr;
}

void qtport::Link(QWidget* widget, TWidgetClient* client) {
  widget->setProperty(kClientProperty, QVariant::fromValue(reinterpret_cast<quintptr>(client)));
}

void qtport::NoteInputForCaretBlink(QEvent::Type type) {
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

namespace port {

// ---- every widget ----

NativeWidget CreateWidget(WidgetKind kind, TWidgetClient* client, NativeWidget /*parent*/) {
  // Qt moves a widget between parents cheaply; SetParent does it.
  QWidget* widget = MakeWidget(kind, client);
  qtport::Link(widget, client);
  // A widget that the toolkit destroys along with its parent tells its client;
  // one that the client destroys no longer has a client to tell. (Cutting the
  // widget's connections instead would also cut those of Qt's own observers,
  // such as the cache of accessible interfaces, which then hands a dead
  // widget's interface to the next widget made at its address.)
  QObject::connect(widget, &QObject::destroyed, [client](QObject* gone) {
    if (gone->property(kClientProperty).isValid()) client->WidgetDestroyed();
  });
  return widget;
}

void DestroyWidget(NativeWidget widget) {
  widget->setProperty(kClientProperty, QVariant());
  delete widget;
}

void SetParent(NativeWidget widget, NativeWidget parent) {
  widget->setParent(parent);
}

void SetBounds(NativeWidget widget, int left, int top, int width, int height) {
  widget->setGeometry(left, top, width, height);
}

Rect Bounds(NativeWidget widget) {
  QRect rect = widget->geometry();
  return Rect{rect.left(), rect.top(), rect.width(), rect.height()};
}

Rect NaturalSize(NativeWidget widget) {
  QSize size = widget->sizeHint();
  return Rect{0, 0, size.width(), size.height()};
}

void SetVisible(NativeWidget widget, bool visible) {
  widget->setVisible(visible);
}

void SetEnabled(NativeWidget widget, bool enabled) {
  widget->setEnabled(enabled);
}

void SetFont(NativeWidget widget, const TFont& font) {
  widget->setFont(qtport::ToQFont(font));
  // Only the colour role of the widget's own text: a palette passes to the
  // widget's parts, and a scroll bar draws its arrows in the window-text and
  // button-text colours.
  QPalette palette = widget->palette();
  QColor color = qtport::ToQColor(font.Color());
  if (qobject_cast<QLineEdit*>(widget) != nullptr ||
      qobject_cast<QAbstractScrollArea*>(widget) != nullptr) {
    palette.setColor(QPalette::Text, color);
  } else if (qobject_cast<QAbstractButton*>(widget) != nullptr) {
    palette.setColor(QPalette::ButtonText,
                     font.Color() == clWindowText ? qtport::ToQColor(clBtnText) : color);
  } else {
    palette.setColor(QPalette::WindowText, color);
  }
  widget->setPalette(palette);
}

void SetBackground(NativeWidget widget, TColor color) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::Base, qtport::ToQColor(color));
  widget->setPalette(palette);
}

void SetText(NativeWidget widget, std::string_view text) {
  QString shown = qtport::ToQString(text);
  if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
    edit->setText(shown);
  } else if (auto* label = qobject_cast<QLabel*>(widget)) {
    label->setText(shown);
  } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
    button->setText(shown);
  } else if (widget->isWindow()) {
    widget->setWindowTitle(shown);
  }
}

std::string Text(NativeWidget widget) {
  if (auto* edit = qobject_cast<QLineEdit*>(widget)) return qtport::FromQString(edit->text());
  return std::string();
}

void SetAccessibleName(NativeWidget widget, std::string_view name) {
  widget->setAccessibleName(qtport::ToQString(name));
}

std::string AccessibleName(NativeWidget widget) {
  return qtport::FromQString(widget->accessibleName());
}

void SetAccessibleDescription(NativeWidget widget, std::string_view description) {
  widget->setAccessibleDescription(qtport::ToQString(description));
}

void SetTabStop(NativeWidget widget, bool tab_stop) {
  if (widget->focusPolicy() != Qt::NoFocus) {
    widget->setFocusPolicy(tab_stop ? Qt::StrongFocus : Qt::ClickFocus);
  }
}

void SetTabOrder(NativeWidget before, NativeWidget after) {
  QWidget::setTabOrder(before, after);
}

void SetFocus(NativeWidget widget, bool by_handler) {
  widget->setFocus(by_handler ? Qt::OtherFocusReason : Qt::TabFocusReason);
}

TWidgetClient* FocusedClient(NativeWidget window) {
  QWidget* focus = window != nullptr ? window->focusWidget() : QApplication::focusWidget();
  return focus != nullptr ? qtport::ClientOf(focus) : nullptr;
}

// ---- kinds ----

void SetPanelBevel(NativeWidget panel, bool raised, bool lowered) {
  auto* frame = static_cast<QFrame*>(panel);
  if (raised) {
    frame->setFrameStyle(QFrame::Panel | QFrame::Raised);
  } else if (lowered) {
    frame->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  } else {
    frame->setFrameStyle(QFrame::NoFrame);
  }
}

void SelectAll(NativeWidget edit) {
  static_cast<QLineEdit*>(edit)->selectAll();
}

int ListCount(NativeWidget list) {
  return List(list)->count();
}

std::string ListItem(NativeWidget list, int index) {
  return qtport::FromQString(List(list)->item(index)->text());
}

void ListAdd(NativeWidget list, std::string_view text) {
  List(list)->addItem(qtport::ToQString(text));
}

void ListDelete(NativeWidget list, int index) {
  // Qt makes the next entry current and selected; the system's list box
  // leaves nothing selected, so that a second «Удалить» removes nothing.
  const bool selected = ListSelected(list) == index;
  delete List(list)->takeItem(index);
  if (selected) ListSelect(list, -1);
}

int ListSelected(NativeWidget list) {
  QListWidgetItem* current = List(list)->currentItem();
  return current != nullptr && current->isSelected() ? List(list)->row(current) : -1;
}

void ListSelect(NativeWidget list, int index) {
  if (index < 0) {
    List(list)->clearSelection();
    List(list)->setCurrentRow(-1);
    return;
  }
  List(list)->setCurrentRow(index, QItemSelectionModel::ClearAndSelect);
}

void ListSetItemHeight(NativeWidget list, int pixels) {
  static_cast<KvItemDelegate*>(List(list)->itemDelegate())->height = pixels;
  List(list)->doItemsLayout();
}

}  // namespace port
