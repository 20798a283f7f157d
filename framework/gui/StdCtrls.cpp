#include "framework/gui/StdCtrls.h"

#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
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

class KvLineEdit : public QLineEdit {
 protected:
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

class KvPlainTextEdit : public QPlainTextEdit {
 public:
  KvPlainTextEdit() {
    setTabChangesFocus(true);
    setUndoRedoEnabled(false);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  }
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
QPlainTextEdit* TextEditOf(const TMemo* memo) {
  return static_cast<QPlainTextEdit*>(memo->Widget());
}
QListWidget* ListWidgetOf(const TListBox* list) {
  return static_cast<QListWidget*>(list->Widget());
}

// Memo text as the toolkit holds it: one QString per line, lone CR and LF as
// their symbols.
QString MemoSegment(std::string_view ansi) {
  std::u16string text = AnsiToUtf16(ansi);
  for (char16_t& c : text) {
    if (c == u'\r')
      c = kShownCR;
    else if (c == u'\n')
      c = kShownLF;
  }
  return QString(reinterpret_cast<const QChar*>(text.data()), static_cast<qsizetype>(text.size()));
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

// Inserts text at the cursor, CR LF pairs as line breaks.
void InsertMemoText(QTextCursor& cursor, std::string_view text) {
  std::size_t start = 0;
  for (;;) {
    std::size_t end = text.find("\r\n", start);
    std::string_view segment =
        text.substr(start, end == std::string_view::npos ? end : end - start);
    if (!segment.empty()) cursor.insertText(MemoSegment(segment));
    if (end == std::string_view::npos) break;
    cursor.insertBlock();
    start = end + 2;
  }
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
  QPlainTextEdit* edit = TextEditOf(memo_);
  if (edit == nullptr) return 0;
  QTextDocument* document = edit->document();
  int count = document->blockCount();
  if (document->lastBlock().length() == 1) --count;  // the empty line after a final break
  return count;
}

std::string TMemoLines::Strings(int index) const {
  QPlainTextEdit* edit = TextEditOf(memo_);
  if (edit == nullptr || index < 0 || index >= Count()) {
    throw EStringListError(Format("List index out of bounds (%d)", index));
  }
  return MemoLineText(edit->document()->findBlockByNumber(index).text());
}

void TMemoLines::Add(const std::string& line) {
  memo_->AddLine(line);
}

TMemo::TMemo(TComponent* owner) : TWinControl(owner, new KvPlainTextEdit) {
  Widget()->setFocusPolicy(Qt::StrongFocus);
  SetTabStop(true);
  SetColor(clWindow);
}

std::string TMemo::Text() const {
  QPlainTextEdit* edit = TextEditOf(this);
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
  QPlainTextEdit* edit = TextEditOf(this);
  if (edit == nullptr) return;
  std::string_view shown(text.data(), std::min(text.size(), text.find('\0')));
  edit->clear();
  QTextCursor cursor(edit->document());
  InsertMemoText(cursor, shown);
}

void TMemo::AddLine(const std::string& line) {
  QPlainTextEdit* edit = TextEditOf(this);
  if (edit == nullptr) return;
  // The text reaches the control as a zero-terminated string.
  std::size_t zero = line.find('\0');
  std::string_view shown(line.data(), zero == std::string::npos ? line.size() : zero);
  QTextDocument* document = edit->document();
  QTextCursor cursor(document);
  cursor.movePosition(QTextCursor::End);
  // Empty, or ending with a line break: the last line is empty. Looking at the
  // last block only keeps the cost independent of the history's length.
  bool at_line_start = document->lastBlock().length() == 1;
  cursor.beginEditBlock();
  if (at_line_start) {
    InsertMemoText(cursor, shown);
    if (zero == std::string::npos) cursor.insertBlock();
  } else {
    cursor.insertBlock();
    InsertMemoText(cursor, shown);
  }
  cursor.endEditBlock();
  edit->setTextCursor(cursor);
  edit->ensureCursorVisible();
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
  QPlainTextEdit* edit = TextEditOf(this);
  if (edit == nullptr) return 0;
  QTextCursor cursor = edit->textCursor();
  // A line break is one position in the toolkit and two (CR LF) in the text.
  QTextBlock block = edit->document()->findBlock(cursor.selectionStart());
  return cursor.selectionStart() + block.blockNumber();
}

int TMemo::SelLength() const {
  QPlainTextEdit* edit = TextEditOf(this);
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
