#include "framework/gui/Forms.h"

#include <cxxabi.h>
#include <dlfcn.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDirIterator>
#include <QEvent>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QStringList>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <typeinfo>

#include "framework/gui/QtBridge_p.h"

TApplication* Application = nullptr;

namespace {

const QEvent::Type kWakeEvent = static_cast<QEvent::Type>(QEvent::registerEventType());
const QEvent::Type kQuitEvent = static_cast<QEvent::Type>(QEvent::registerEventType());
const QEvent::Type kReleaseEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

// Qt's application with the last catch-all: nothing thrown by framework code
// may unwind through Qt's own frames.
class KvQApplication : public QApplication {
 public:
  KvQApplication(int& argc, char** argv) : QApplication(argc, argv) {}

  // Counts every event delivered, so that a loop step can tell whether it
  // handled anything: Qt's plain Unix dispatcher delivers posted events
  // without counting them in the result of processEvents.
  std::atomic<unsigned> delivered{0};

  bool notify(QObject* receiver, QEvent* event) override {
    delivered.fetch_add(1, std::memory_order_relaxed);
    try {
      const bool result = QApplication::notify(receiver, event);
      if (event->type() == QEvent::KeyPress) {
        CloseOnAltF4(receiver, static_cast<QKeyEvent*>(event));
      }
      return result;
    } catch (...) {
      TObject* sender = ControlOf(receiver);
      if (Application != nullptr) {
        Application->ReportError(sender != nullptr ? sender : Application,
                                 std::current_exception());
      }
      return true;
    }
  }

 private:
  // Alt+F4 closes the window it is pressed in as its close box does: a form
  // asks CloseForm, a dialog is cancelled, a message box ends with its escape
  // button. The window manager normally takes the key before any window sees
  // it; one that reaches a window all the same (no window manager, one
  // without that binding, or one that missed the key while it was busy) must
  // close it too, or the user's Alt+F4 is silently lost. A control that takes
  // the key keeps it; a held key closes once.
  static void CloseOnAltF4(QObject* receiver, QKeyEvent* key) {
    if (key->isAccepted() || key->key() != Qt::Key_F4 || key->isAutoRepeat() ||
        (key->modifiers() & ~Qt::KeypadModifier) != Qt::AltModifier) {
      return;
    }
    auto* widget = qobject_cast<QWidget*>(receiver);
    if (widget == nullptr) return;  // the window's own delivery, before the widgets'
    key->accept();
    widget->window()->close();
  }
};

// How long one wake-up goes on serving handed-over calls while they keep
// coming. A worker that has just had a call run hands over its next one within
// microseconds (the UDP listener's next datagram), so under a flood the main
// thread serves the calls straight from the queue instead of going round the
// whole event loop, with a posted event, an eventfd and two polls, for every
// one; after this long it lets the loop turn (paint, input, timers) and comes
// back. Measured under a flood of 100,000 datagrams a second, 2 ms serves as
// many lines as 5 ms and leaves a third of the long gaps between two turns.
constexpr auto kServeBudget = std::chrono::milliseconds(2);
// How long to wait for a following call before giving the loop back.
constexpr auto kFollowingCallWait = std::chrono::milliseconds(2);

// Runs the calls that workers have handed over, then those that follow close
// behind them, within kServeBudget. Returns whether any call ran.
// REQUIRES: called on the main thread.
bool ServeHandedOverCalls() {
  if (!CheckSynchronize(0)) return false;
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + kServeBudget;
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) break;
    // CheckSynchronize resets SyncEvent before it takes the queue, so a set
    // event means a call (or a thread's end) came after that.
    const int wait_ms = static_cast<int>(std::min(left, kFollowingCallWait).count());
    if (SyncEvent().WaitFor(wait_ms) != TWaitResult::Signaled) break;
    CheckSynchronize(0);
  }
  return true;
}

// The hidden target of the wake-up and quit requests.
class WakeTarget : public QObject {
 public:
  explicit WakeTarget(std::function<void()> on_quit) : on_quit_(std::move(on_quit)) {}

  // Set while a wake-up event is on its way: one is enough to have every
  // queued call run, so PostWakeUp posts no other until it has been handled.
  std::atomic<bool> wake_posted{false};
  // The wake-up event on its way. A worker builds it, so the main thread
  // knows it by its address, published here with release order, rather than
  // by reading its type: the only ordering between the worker's construction
  // and that read would be the lock of Qt's post queue, which the thread
  // sanitizer cannot see into. Only one wake-up exists at a time and it stays
  // alive until delivered, so no other event can have its address meanwhile.
  std::atomic<QEvent*> wake_event{nullptr};

  // REQUIRES: wake_posted was false and this caller set it.
  void PostWake() {
    auto* event = new QEvent(kWakeEvent);
    wake_event.store(event, std::memory_order_release);
    QCoreApplication::postEvent(this, event);
  }

  bool event(QEvent* event) override {
    if (event == wake_event.load(std::memory_order_acquire)) {
      wake_event.store(nullptr, std::memory_order_relaxed);
      // Cleared before the queue is taken: a call queued from here on finds
      // the flag clear and posts the next wake-up itself.
      wake_posted.store(false);
      RunGuarded(Application, [] { ServeHandedOverCalls(); });
      return true;
    }
    if (event->type() == kQuitEvent) {
      on_quit_();
      return true;
    }
    return QObject::event(event);
  }

 private:
  std::function<void()> on_quit_;
};

// A form's window. Closing it asks the form; Escape does nothing.
class KvFormWidget : public QWidget {
 public:
  KvFormWidget() { setAttribute(Qt::WA_DeleteOnClose, false); }

  // The window manager adds the frame only after the window is mapped; once
  // its size is known, a window centred on first show is centred again with
  // its frame.
  bool recentre_pending = false;

 protected:
  void closeEvent(QCloseEvent* event) override {
    event->ignore();
    if (auto* form = dynamic_cast<TCustomForm*>(ControlOf(this))) {
      RunGuarded(form, [form] { form->CloseForm(); });
    }
  }

  bool event(QEvent* event) override {
    if (recentre_pending && FrameKnown()) {
      recentre_pending = false;
      // Not from inside this event (it may be a paint): once it is handled.
      QTimer::singleShot(0, this, [this] {
        if (!FrameKnown()) {
          recentre_pending = true;
          return;
        }
        QScreen* screen = QGuiApplication::primaryScreen();
        if (screen == nullptr) return;
        QRect area = screen->geometry();
        QSize frame = frameGeometry().size();
        move(area.left() + (area.width() - frame.width()) / 2,
             area.top() + (area.height() - frame.height()) / 2);
      });
    }
    if (event->type() == kReleaseEvent) {
      if (auto* form = dynamic_cast<TCustomForm*>(ControlOf(this))) {
        RunGuarded(form, [form] {
          form->DestroyContents();
          delete form;
        });
      }
      return true;
    }
    return QWidget::event(event);
  }

 private:
  // While the window manager builds the frame, Qt can read the margins off a
  // frame window that is not sized yet, and the frame reads smaller than the
  // window (a window "centred" with it lands with its corner on the centre):
  // only a frame around the whole window is the real one.
  bool FrameKnown() const {
    return frameGeometry().size() != size() && frameGeometry().contains(geometry());
  }
};

// The program's icon: a speech bubble in the sixteen-colour palette.
QIcon MakeProgramIcon() {
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setPen(QColor(0, 0, 128));
  painter.setBrush(QColor(0, 128, 128));
  painter.drawRoundedRect(2, 3, 27, 19, 5, 5);
  QPolygon tail;
  tail << QPoint(8, 21) << QPoint(6, 29) << QPoint(15, 21);
  painter.drawPolygon(tail);
  painter.setPen(QColor(255, 255, 255));
  painter.drawLine(7, 9, 24, 9);
  painter.drawLine(7, 13, 24, 13);
  painter.drawLine(7, 17, 18, 17);
  return QIcon(pixmap);
}

// The program's icon resource MAINICON with every size the program carries, so
// that taskbars, title bars and switchers each take a sharp one; the drawn icon
// where the executable carries none (a test of the framework alone).
QIcon LoadProgramIcon() {
  QIcon icon;
  QDirIterator entries(QStringLiteral(":/MAINICON"), {QStringLiteral("*.png")}, QDir::Files);
  while (entries.hasNext()) icon.addFile(entries.next());
  return icon.isNull() ? MakeProgramIcon() : icon;
}

std::string ExecutablePath() {
  char buffer[4096];
  ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length <= 0) return std::string();
  return std::string(buffer, static_cast<std::size_t>(length));
}

std::string BaseName(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The readable class name of the object being thrown.
std::string ThrownClassName(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return ClassNameOf(typeid(e));
  } catch (...) {
    const std::type_info* type = abi::__cxa_current_exception_type();
    return type != nullptr ? ClassNameOf(*type) : std::string("Exception");
  }
}

QString DisplayText(const std::string& text) {
  // The box shows CR LF as one line break; a final break adds no empty line.
  std::string shown;
  shown.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    shown.push_back(text[i]);
  }
  while (!shown.empty() && (shown.back() == '\n' || shown.back() == '\r')) shown.pop_back();
  return ToQString(shown);
}

// Ctrl+C in a message box copies its caption, text and buttons, as message
// boxes do on Windows: the way a person passes an error on to someone else.
class MessageBoxCopier : public QObject {
 public:
  explicit MessageBoxCopier(QMessageBox* box) : QObject(box), box_(box) {
    box->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == box_ && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)) {
      const QString rule = QStringLiteral("---------------------------\n");
      QStringList buttons;
      for (QAbstractButton* button : box_->buttons()) buttons << button->text().remove('&');
      QGuiApplication::clipboard()->setText(rule + box_->windowTitle() + "\n" + rule +
                                            box_->text() + "\n" + rule + buttons.join("   ") +
                                            "\n" + rule);
      return true;
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  QMessageBox* box_;
};

// Shows a message box and returns the platform's code of the button pressed.
int RunMessageBox(QWidget* owner, const std::string& text, const std::string& caption, int flags) {
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  switch (flags & 0xF0) {
    case MB_ICONSTOP:
      icon = QMessageBox::Critical;
      break;
    case MB_ICONQUESTION:
      icon = QMessageBox::Question;
      break;
    case MB_ICONWARNING:
      icon = QMessageBox::Warning;
      break;
    case MB_ICONINFORMATION:
      icon = QMessageBox::Information;
      break;
    default:
      break;
  }
  struct Choice {
    QMessageBox::StandardButton button;
    int code;
  };
  std::vector<Choice> choices;
  switch (flags & 0xF) {
    case MB_OKCANCEL:
      choices = {{QMessageBox::Ok, IDOK}, {QMessageBox::Cancel, IDCANCEL}};
      break;
    case MB_ABORTRETRYIGNORE:
      choices = {{QMessageBox::Abort, IDABORT},
                 {QMessageBox::Retry, IDRETRY},
                 {QMessageBox::Ignore, IDIGNORE}};
      break;
    case MB_YESNOCANCEL:
      choices = {
          {QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}, {QMessageBox::Cancel, IDCANCEL}};
      break;
    case MB_YESNO:
      choices = {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}};
      break;
    case MB_RETRYCANCEL:
      choices = {{QMessageBox::Retry, IDRETRY}, {QMessageBox::Cancel, IDCANCEL}};
      break;
    default:
      choices = {{QMessageBox::Ok, IDOK}};
      break;
  }
  QMessageBox::StandardButtons buttons;
  for (const Choice& choice : choices) buttons |= choice.button;
  QMessageBox box(icon, ToQString(caption), QString(), buttons, owner);
  box.setTextFormat(Qt::PlainText);
  box.setText(DisplayText(text));
  box.setObjectName("messageBox");
  // The exact bytes, for whoever needs more than the shown text.
  box.setProperty("kvText", QByteArray(text.data(), static_cast<qsizetype>(text.size())));
  box.setWindowModality(Qt::ApplicationModal);
  new MessageBoxCopier(&box);
  box.exec();
  QAbstractButton* clicked = box.clickedButton();
  for (const Choice& choice : choices) {
    if (clicked != nullptr && box.button(choice.button) == clicked) return choice.code;
  }
  // Closed without a button: the cancel code where there is one, else the only one.
  for (const Choice& choice : choices) {
    if (choice.code == IDCANCEL) return IDCANCEL;
  }
  return choices.size() == 1 ? choices.front().code : IDCANCEL;
}

void ShowApplicationErrorBox(const std::string& text) {
  RunMessageBox(nullptr, text, "Application Error", MB_TASKMODAL | MB_ICONERROR);
}

}  // namespace

// ---- text rules ----

std::string TitleFromExePath(std::string_view path) {
  std::size_t slash = path.find_last_of("/\\");
  std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  std::size_t dot = name.find('.');
  if (dot != std::string_view::npos) name = name.substr(0, dot);
  QString title = ToQString(std::string(name));
  if (title.isEmpty()) return std::string();
  // Lower case from the second character on, in the text's own code page. The
  // first character is raised so that a lower-case file name ("kvelmar") gives
  // the same title as the Windows file name ("Kvelmar.exe").
  QString result = title.left(1).toUpper() + title.mid(1).toLower();
  return FromQString(result);
}

std::string WithFullStop(std::string message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') message += '.';
  return message;
}

std::string ApplicationErrorText(std::exception_ptr error) {
  const char* kPattern = "Exception %s in module %s at %08lX.\r\n%s%s\r\n";
  try {
    std::rethrow_exception(error);
  } catch (const Exception& e) {
    std::string module = e.ModuleName();
    if (module.empty()) module = BaseName(ExecutablePath());
    const std::string& message = e.Message();
    bool stop = !message.empty() && message.back() != '.';
    return Format(kPattern, e.ClassName().c_str(), Ansi(module).c_str(),
                  static_cast<unsigned long>(e.RelativeAddress()), message.c_str(),
                  stop ? "." : "");
  } catch (...) {
    return Format(kPattern, ThrownClassName(std::current_exception()).c_str(),
                  Ansi(BaseName(ExecutablePath())).c_str(), 0UL, "", "");
  }
}

// ---- TCustomForm ----

TCustomForm::TCustomForm(TComponent* owner) : TWinControl(owner, new KvFormWidget) {
  TControl::SetVisible(false);
  SetParentFont(false);
  SetColor(clBtnFace);
  ApplyFont();
  ApplyWindowFlags();
}

TCustomForm::~TCustomForm() {
  // The derived form's fields are gone by now; only the contents are left.
  field_resets_.clear();
  DestroyContents();
  if (Application != nullptr && Application->main_window_ == this)
    Application->main_window_ = nullptr;
}

void TCustomForm::DestroyContents() {
  while (ControlCount() > 0) DestroyComponent(Controls(ControlCount() - 1));
  while (ComponentCount() > 0) DestroyComponent(Components(ComponentCount() - 1));
}

void TCustomForm::DestroyComponent(TComponent* component) {
  if (auto* container = dynamic_cast<TWinControl*>(component)) {
    while (container->ControlCount() > 0) {
      DestroyComponent(container->Controls(container->ControlCount() - 1));
    }
  }
  for (FieldReset& field : field_resets_) {
    if (field.component == component) {
      field.reset();
      field.component = nullptr;
    }
  }
  delete component;
}

void TCustomForm::SetCaption(std::string caption) {
  caption_ = std::move(caption);
  if (Widget() != nullptr) Widget()->setWindowTitle(ToQString(caption_));
}

void TCustomForm::SetClientSize(int width, int height) {
  SetBounds(Left(), Top(), width, height);
  ApplyWindowFlags();
}

void TCustomForm::SetBorderStyle(TBorderStyle style) {
  border_style_ = style;
  ApplyWindowFlags();
}

void TCustomForm::SetBorderIcons(TBorderIcons icons) {
  border_icons_ = icons;
  ApplyWindowFlags();
}

void TCustomForm::ApplyWindowFlags() {
  QWidget* widget = Widget();
  if (widget == nullptr) return;
  Qt::WindowFlags flags;
  switch (border_style_) {
    case bsNone:
      flags = Qt::Window | Qt::FramelessWindowHint;
      break;
    case bsDialog:
      flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
              Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
      break;
    case bsSingle:
    case bsSizeable:
      flags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
      if (border_icons_ & biSystemMenu)
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
      if (border_icons_ & biMinimize) flags |= Qt::WindowMinimizeButtonHint;
      if ((border_icons_ & biMaximize) && border_style_ == bsSizeable) {
        flags |= Qt::WindowMaximizeButtonHint;
      }
      break;
  }
  bool shown = widget->isVisible();
  if (widget->windowFlags() != flags) widget->setWindowFlags(flags);
  if (border_style_ == bsSizeable) {
    widget->setMinimumSize(0, 0);
    widget->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    widget->resize(Width(), Height());
  } else {
    widget->setFixedSize(Width(), Height());
  }
  if (shown && !widget->isVisible()) widget->show();
}

int TCustomForm::FrameLeft() const {
  return Widget() != nullptr ? Widget()->frameGeometry().left() : 0;
}
int TCustomForm::FrameTop() const {
  return Widget() != nullptr ? Widget()->frameGeometry().top() : 0;
}

void TCustomForm::PlaceOnFirstShow() {
  if (placed_) return;
  placed_ = true;
  QWidget* widget = Widget();
  if (position_ != poScreenCenter || widget == nullptr) return;
  QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  QRect area = screen->geometry();
  // Before the window exists its frame may read smaller than the window itself.
  QSize frame = widget->frameGeometry().size().expandedTo(widget->size());
  widget->move(area.left() + (area.width() - frame.width()) / 2,
               area.top() + (area.height() - frame.height()) / 2);
  static_cast<KvFormWidget*>(widget)->recentre_pending = frame == widget->size();
}

void TCustomForm::SetVisible(bool visible) {
  QWidget* widget = Widget();
  if (visible == Visible()) return;
  TControl::SetVisible(visible);
  if (visible) {
    if (on_show_) on_show_(this);
    if (!Visible() || widget == nullptr) return;  // OnShow hid it again
    UpdateTabOrder();
    PlaceOnFirstShow();
    widget->show();
    // The offscreen platform keeps no stacking order and says so on raise().
    if (QGuiApplication::platformName() != "offscreen") widget->raise();
    widget->activateWindow();
    // Without an active control, the first control in tab order that can take
    // the focus gets it.
    QWidget* focus = widget->focusWidget();
    if (focus == nullptr || !focus->isVisible() || !focus->isEnabled()) {
      for (TWinControl* control : TabList()) {
        if (control->CanFocus()) {
          control->Widget()->setFocus(Qt::TabFocusReason);
          break;
        }
      }
    }
  } else {
    if (widget != nullptr) widget->hide();
    if (on_hide_) on_hide_(this);
  }
}

TWinControl* TCustomForm::ActiveControl() const {
  if (Widget() == nullptr) return nullptr;
  for (QWidget* focus = Widget()->focusWidget(); focus != nullptr; focus = focus->parentWidget()) {
    auto* control = dynamic_cast<TWinControl*>(ControlOf(focus));
    if (control == this) return nullptr;
    if (control != nullptr) return control;
  }
  return nullptr;
}

std::vector<TWinControl*> TCustomForm::TabList() {
  std::vector<TWinControl*> list;
  std::function<void(TWinControl*)> collect = [&](TWinControl* parent) {
    std::vector<TWinControl*> children;
    for (int i = 0; i < parent->ControlCount(); ++i) {
      if (auto* child = dynamic_cast<TWinControl*>(parent->Controls(i))) children.push_back(child);
    }
    std::stable_sort(children.begin(), children.end(),
                     [](TWinControl* a, TWinControl* b) { return a->TabOrder() < b->TabOrder(); });
    for (TWinControl* child : children) {
      if (child->TabStop()) list.push_back(child);
      collect(child);
    }
  };
  collect(this);
  return list;
}

void TCustomForm::UpdateTabOrder() {
  std::vector<TWinControl*> list = TabList();
  for (std::size_t i = 1; i < list.size(); ++i) {
    if (list[i - 1]->Widget() != nullptr && list[i]->Widget() != nullptr) {
      QWidget::setTabOrder(list[i - 1]->Widget(), list[i]->Widget());
    }
  }
}

void TCustomForm::Loaded() {
  TWinControl::Loaded();
  AlignControls();
  UpdateTabOrder();
}

TModalResult TCustomForm::RunModal() {
  QWidget* widget = Widget();
  if (Visible() || !Enabled() || modal_ || widget == nullptr) {
    throw EInvalidOperation("Cannot make a visible window modal");
  }
  if (QWidget* grabber = QWidget::mouseGrabber()) grabber->releaseMouse();
  modal_ = true;
  QPointer<QWidget> previous_active = QApplication::activeWindow();
  QPointer<QWidget> previous_focus = QApplication::focusWidget();
  // While modal the dialog belongs to the window that was active, so that it
  // stays above it; afterwards it is a window of its own again.
  QPointer<QWidget> owner = previous_active;
  if (owner == nullptr && Application != nullptr && Application->MainWindow() != nullptr &&
      Application->MainWindow() != this && Application->MainWindow()->Visible()) {
    owner = Application->MainWindow()->Widget();
  }
  Qt::WindowFlags flags = widget->windowFlags();
  QPoint position = widget->pos();
  if (owner != nullptr && owner != widget) {
    widget->setParent(owner, flags);
    if (placed_) widget->move(position);
  }
  widget->setWindowModality(Qt::ApplicationModal);

  auto restore = [&] {
    if (Visible()) Hide();
    if (widget->parentWidget() != nullptr) {
      QPoint last = widget->pos();
      widget->setParent(nullptr, flags);
      widget->move(last);
    }
    widget->setWindowModality(Qt::NonModal);
    if (previous_active != nullptr) previous_active->activateWindow();
    if (previous_focus != nullptr) previous_focus->setFocus(Qt::ActiveWindowFocusReason);
    modal_ = false;
  };

  try {
    Show();
    modal_result_ = mrNone;
    do {
      Application->PumpOneMessage();
      if (Application->QuitRequested()) {
        modal_result_ = mrCancel;
      } else if (modal_result_ != mrNone) {
        ModalCloseAttempt();
      }
    } while (modal_result_ == mrNone);
  } catch (...) {
    restore();
    throw;
  }
  restore();
  return modal_result_;
}

void TCustomForm::ModalCloseAttempt() {
  TCloseAction action = caNone;
  try {
    bool can_close = true;
    if (on_close_query_) on_close_query_(this, can_close);
    if (can_close) {
      action = caHide;
      if (on_close_) on_close_(this, action);
    }
  } catch (...) {
    modal_result_ = mrNone;
    Application->ReportError(this, std::current_exception());
    return;
  }
  if (action == caNone) {
    modal_result_ = mrNone;
  } else if (action == caFree) {
    Release();
  }
}

void TCustomForm::CloseForm() {
  if (modal_) {
    modal_result_ = mrCancel;
    return;
  }
  bool can_close = true;
  if (on_close_query_) on_close_query_(this, can_close);
  if (!can_close) return;
  TCloseAction action = caHide;
  if (on_close_) on_close_(this, action);
  if (action == caNone) return;
  if (Application != nullptr && Application->MainWindow() == this) {
    Application->Quit();
    return;
  }
  switch (action) {
    case caHide:
      Hide();
      break;
    case caMinimize:
      if (Widget() != nullptr) Widget()->showMinimized();
      break;
    case caFree:
      Release();
      break;
    case caNone:
      break;
  }
}

void TCustomForm::Release() {
  if (Widget() != nullptr) QCoreApplication::postEvent(Widget(), new QEvent(kReleaseEvent));
}

// ---- TApplication ----

struct TApplication::Impl {
  std::unique_ptr<KvQApplication> qt;
  std::unique_ptr<WakeTarget> wake;
};

TApplication::TApplication(int& argc, char** argv) : TComponent(nullptr), impl_(new Impl) {
  impl_->qt = std::make_unique<KvQApplication>(argc, argv);
  UseDetectableAutoRepeat();
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setWindowIcon(LoadProgramIcon());
  title_ = TitleFromExePath(Ansi(ExecutablePath()));
  // The application name is also the window class (WM_CLASS) under X11.
  QCoreApplication::setApplicationName(ToQString(title_));
#ifdef KV_DESKTOP_FILE_NAME
  // Ties the windows to the installed desktop entry and its icon (the app id
  // under Wayland).
  QGuiApplication::setDesktopFileName(QStringLiteral(KV_DESKTOP_FILE_NAME));
#endif
  impl_->wake = std::make_unique<WakeTarget>([this] { quit_requested_ = true; });
  Application = this;
  SetMainThreadWakeHook([this](TThread* sender) { PostWakeUp(sender); });
}

TApplication::~TApplication() {
  DestroyForms();
  SetMainThreadWakeHook(nullptr);
  impl_->wake.reset();
  if (Application == this) Application = nullptr;
  impl_->qt.reset();
}

void TApplication::InitApp() {}

void TApplication::FormMade(TCustomForm* form) {
  if (main_window_ == nullptr && dynamic_cast<TForm*>(form) != nullptr) {
    if (form->Widget() != nullptr) form->Widget()->winId();
    main_window_ = form;
  }
}

void TApplication::RunMessageLoop() {
  if (main_window_ == nullptr) return;
  main_window_->Show();
  while (!quit_requested_) {
    try {
      PumpOneMessage();
    } catch (...) {
      ReportError(this, std::current_exception());
    }
  }
}

void TApplication::PumpOneMessage() {
  QAbstractEventDispatcher* dispatcher =
      QAbstractEventDispatcher::instance(QThread::currentThread());
  if (dispatcher == nullptr) return;
  const unsigned delivered = impl_->qt->delivered.load(std::memory_order_relaxed);
  if (dispatcher->processEvents(QEventLoop::AllEvents)) return;
  if (impl_->qt->delivered.load(std::memory_order_relaxed) != delivered) return;
  // The idle step: the calls handed over by workers, else a wait.
  if (CurrentThreadID() == MainThreadID() && ServeHandedOverCalls()) return;
  dispatcher->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void TApplication::Quit() {
  QCoreApplication::postEvent(impl_->wake.get(), new QEvent(kQuitEvent));
}

void TApplication::PostWakeUp(TThread* /*sender*/) {
  if (impl_->wake->wake_posted.exchange(true)) return;
  impl_->wake->PostWake();
}

void TApplication::ReportError(TObject* /*sender*/, std::exception_ptr error) {
  if (!error) return;
  try {
    if (QWidget* grabber = QWidget::mouseGrabber()) grabber->releaseMouse();
    try {
      std::rethrow_exception(error);
    } catch (const EAbort&) {
      return;
    } catch (const Exception& e) {
      ShowErrorBox(e);
    } catch (...) {
      ShowApplicationErrorBox(ApplicationErrorText(std::current_exception()));
    }
  } catch (...) {
    // The error display itself failed; there is nobody left to tell.
  }
}

void TApplication::ShowErrorBox(const Exception& error) {
  ShowAppMessageBox(WithFullStop(error.Message()), title_, MB_OK | MB_ICONSTOP);
}

int TApplication::ShowAppMessageBox(const std::string& text, const std::string& caption,
                                    int flags) {
  QPointer<QWidget> active = QApplication::activeWindow();
  QPointer<QWidget> focus = QApplication::focusWidget();
  int result = RunMessageBox(active, text, caption, flags);
  if (active != nullptr) active->activateWindow();
  if (focus != nullptr) focus->setFocus(Qt::ActiveWindowFocusReason);
  return result;
}

void TApplication::DestroyForms() {
  while (ComponentCount() > 0) {
    TComponent* component = Components(ComponentCount() - 1);
    if (auto* form = dynamic_cast<TCustomForm*>(component)) form->DestroyContents();
    if (component == main_window_) main_window_ = nullptr;
    delete component;
  }
}

void TApplication::ResetForTesting() {
  DestroyForms();
  main_window_ = nullptr;
  quit_requested_ = false;
}

int ProgramMain(int argc, char** argv, const std::function<void()>& entry) {
  TApplication application(argc, argv);
  try {
    entry();
  } catch (...) {
    ShowApplicationErrorBox(ApplicationErrorText(std::current_exception()));
    return 1;
  }
  return 0;
}
