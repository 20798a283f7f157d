// The Qt port's toolkit and event loop: Qt's application with the last
// catch-all and the Alt+F4 rule, one step of the loop, the wake-up and quit
// requests, and the process-wide settings made at start.
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <unistd.h>

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QDialog>
#include <QDirIterator>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QLibraryInfo>
#include <QPointer>
#include <QScreen>
#include <QSocketNotifier>
#include <QThread>
#include <QTranslator>
#include <QWidget>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "framework/gui/qt/QtPort_p.h"

namespace {

const QEvent::Type kWakeEvent = static_cast<QEvent::Type>(QEvent::registerEventType());
const QEvent::Type kQuitEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

std::function<void()> on_wake;
std::function<void()> on_quit;
std::function<void(TObject*, std::exception_ptr)> entry_error_hook;

// The program's answer to the platform's requests to end it (WatchEndRequests).
std::function<void()> end_now_hook;
bool end_requested = false;
// The standard dialogs that run their own loop now, innermost last.
std::vector<QPointer<QDialog>> running_dialogs;
QtMessageHandler earlier_message_handler = nullptr;

// Ends every standard dialog that runs; detached from their owners too when
// the owners are about to be destroyed under them.
void EndRunningDialogs(bool detach) {
  for (auto it = running_dialogs.rbegin(); it != running_dialogs.rend(); ++it) {
    QDialog* dialog = *it;
    if (dialog == nullptr) continue;
    dialog->reject();
    if (detach) {
      dialog->hide();
      dialog->setParent(nullptr);
    }
  }
}

// A request that lets the loops finish: the dialogs end and the loops are told
// to quit, so the program leaves them and takes its exit steps.
void RequestEnd() {
  if (end_requested) return;
  end_requested = true;
  EndRunningDialogs(/*detach=*/false);
  if (on_quit) on_quit();
}

// The eventfd that the termination signals write to. Writing is all the
// handler does: it may interrupt any code on any thread.
int signal_fd = -1;

extern "C" void OnTerminationSignal(int) {
  const int saved_errno = errno;
  const std::uint64_t one = 1;
  [[maybe_unused]] ssize_t written = ::write(signal_fd, &one, sizeof one);
  errno = saved_errno;
}

// Qt's X11 platform ends the process with exit(1) when the connection to the
// X server breaks, after this warning and before anything else can run. The
// program takes its exit steps here instead; it cannot go back to the loops.
void WatchForLostDisplay(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (earlier_message_handler != nullptr) {
    earlier_message_handler(type, context, text);
  } else {
    std::fprintf(stderr, "%s\n", qPrintable(text));
  }
  if (type != QtWarningMsg || !end_now_hook ||
      !text.startsWith(QLatin1String("The X11 connection broke"))) {
    return;
  }
  end_requested = true;
  // The dialogs live in frames that are never returned to.
  EndRunningDialogs(/*detach=*/true);
  end_now_hook();
}

// What Qt and the libraries under it (Xlib, libwayland) write to standard
// error while Qt starts its platform, held back until it is known whether
// there is a window system to talk to at all. Without one, Qt would print what
// each platform plugin tried and abort with advice to reinstall; the program
// says in one line what is missing instead and ends with exit code 1.
class HeldStandardError {
 public:
  // Standard error goes to a file in memory from here on.
  HeldStandardError() {
    std::fflush(stderr);
    saved_ = ::dup(STDERR_FILENO);
    held_ = ::memfd_create("kvelmar-start", MFD_CLOEXEC);
    if (saved_ < 0 || held_ < 0 || ::dup2(held_, STDERR_FILENO) < 0) Restore();
  }
  ~HeldStandardError() { Release(); }

  // Standard error is the process's own again; what was held is dropped.
  void Restore() {
    std::fflush(stderr);
    if (saved_ >= 0) {
      ::dup2(saved_, STDERR_FILENO);
      ::close(saved_);
      saved_ = -1;
    }
  }

  // Standard error is the process's own again, with what was held written to it.
  void Release() {
    Restore();
    if (held_ < 0) return;
    char buffer[4096];
    ssize_t length;
    off_t offset = 0;
    while ((length = ::pread(held_, buffer, sizeof buffer, offset)) > 0) {
      offset += length;
      for (ssize_t done = 0, n = 0; done < length; done += n) {
        n = ::write(STDERR_FILENO, buffer + done, static_cast<std::size_t>(length - done));
        if (n <= 0) break;
      }
    }
    ::close(held_);
    held_ = -1;
  }

 private:
  int saved_ = -1;
  int held_ = -1;
};

HeldStandardError* held_standard_error = nullptr;
const char* program_name = "kvelmar";

// What the environment names as the graphical session, for the one line.
std::string MissingSessionText() {
  auto named = [](const char* name) -> std::string {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::string(name) + "=" + value : std::string();
  };
  const std::string x11 = named("DISPLAY");
  const std::string wayland = named("WAYLAND_DISPLAY");
  std::string text = x11.empty() && wayland.empty() ? "DISPLAY and WAYLAND_DISPLAY are not set"
                     : x11.empty() || wayland.empty()
                         ? "cannot connect to " + wayland + x11
                         : "cannot connect to " + wayland + " or " + x11;
  // A platform asked for by name, which may be the one that cannot start.
  const std::string platform = named("QT_QPA_PLATFORM");
  return platform.empty() ? text : text + ", " + platform;
}

QtMessageHandler handler_before_start = nullptr;

void WatchPlatformStart(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (type == QtFatalMsg &&
      text.contains(QLatin1String("no Qt platform plugin could be initialized"))) {
    held_standard_error->Restore();
    std::fprintf(stderr, "%s: no graphical session (%s); start it from a desktop\n", program_name,
                 MissingSessionText().c_str());
    std::fflush(stderr);
    // Inside Qt's half-made application: nothing of it may run on the way out.
    std::_Exit(1);
  }
  if (type == QtFatalMsg) held_standard_error->Release();  // Qt aborts, as it would have
  if (handler_before_start != nullptr) {
    handler_before_start(type, context, text);
  } else {
    std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, text)));
  }
}

// Qt's application with the last catch-all: nothing thrown by framework code
// may unwind through Qt's own frames.
class KvQApplication : public QApplication {
 public:
  KvQApplication(int& argc, char** argv) : QApplication(argc, argv) {}

  // Counts every event delivered, so that a loop step can tell whether it
  // handled anything: Qt's plain Unix dispatcher delivers posted events
  // without counting them in the result of processEvents.
  std::atomic<unsigned> delivered{0};

  // The session manager's "die" reaches the application as a Quit event. Qt
  // would close every window; the program ends through its own steps instead.
  bool event(QEvent* event) override {
    if (event->type() == QEvent::Quit && end_now_hook) {
      RequestEnd();
      return true;
    }
    return QApplication::event(event);
  }

  bool notify(QObject* receiver, QEvent* event) override {
    delivered.fetch_add(1, std::memory_order_relaxed);
    try {
      const bool result = QApplication::notify(receiver, event);
      if (event->type() == QEvent::KeyPress) {
        CloseOnAltF4(receiver, static_cast<QKeyEvent*>(event));
      }
      return result;
    } catch (...) {
      qtport::ReportEntryError(qtport::ClientOf(receiver), std::current_exception());
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

// The hidden target of the wake-up and quit requests.
class WakeTarget : public QObject {
 public:
  // The wake-up event on its way. A worker builds it, so the main thread
  // knows it by its address, published here with release order, rather than
  // by reading its type: the only ordering between the worker's construction
  // and that read would be the lock of Qt's post queue, which the thread
  // sanitizer cannot see into. The application posts one wake-up at a time
  // and it stays alive until delivered, so no other event can have its
  // address meanwhile.
  std::atomic<QEvent*> wake_event{nullptr};

  void PostWake() {
    auto* event = new QEvent(kWakeEvent);
    wake_event.store(event, std::memory_order_release);
    QCoreApplication::postEvent(this, event);
  }

  bool event(QEvent* event) override {
    if (event == wake_event.load(std::memory_order_acquire)) {
      wake_event.store(nullptr, std::memory_order_relaxed);
      if (on_wake) qtport::RunGuarded(nullptr, on_wake);
      return true;
    }
    if (event->type() == kQuitEvent) {
      if (on_quit) on_quit();
      return true;
    }
    return QObject::event(event);
  }
};

std::unique_ptr<KvQApplication> application;
std::unique_ptr<WakeTarget> wake_target;

// The program's icon resource MAINICON with every size the program carries, so
// that taskbars, title bars and switchers each take a sharp one.
QIcon LoadProgramIcon() {
  QIcon icon;
  QDirIterator entries(QStringLiteral(":/MAINICON"), {QStringLiteral("*.png")}, QDir::Files);
  while (entries.hasNext()) icon.addFile(entries.next());
  return icon;
}

}  // namespace

bool qtport::RunGuarded(TWidgetClient* client, const std::function<void()>& entry) {
  try {
    entry();
    return true;
  } catch (...) {
    ReportEntryError(client, std::current_exception());
    return false;
  }
}

int qtport::ExecStandardDialog(QDialog& dialog) {
  if (end_requested) return -1;
  running_dialogs.push_back(&dialog);
  const int result = dialog.exec();
  std::erase_if(running_dialogs,
                [&dialog](const QPointer<QDialog>& d) { return d == nullptr || d == &dialog; });
  return result;
}

void qtport::ReportEntryError(TWidgetClient* client, std::exception_ptr error) {
  if (entry_error_hook) {
    entry_error_hook(client != nullptr ? client->ClientObject() : nullptr, error);
  }
}

namespace port {

void StartToolkit(int& argc, char** argv, const std::string& app_title) {
  if (argc > 0 && argv[0] != nullptr && *argv[0] != '\0') {
    const char* slash = std::strrchr(argv[0], '/');
    program_name = slash != nullptr ? slash + 1 : argv[0];
  }
  {
    HeldStandardError held;
    held_standard_error = &held;
    handler_before_start = qInstallMessageHandler(WatchPlatformStart);
    application = std::make_unique<KvQApplication>(argc, argv);
    qInstallMessageHandler(handler_before_start);
    held_standard_error = nullptr;
  }
  // The toolkit's own texts (the buttons of message boxes, the edits' context
  // menus) in Russian, as every other text of the program and as on a Russian
  // Windows, whatever the user's locale.
  auto* translator = new QTranslator(application.get());
  if (translator->load(QStringLiteral("qtbase_ru"),
                       QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    QCoreApplication::installTranslator(translator);
  }
  qtport::UseDetectableAutoRepeat();
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setWindowIcon(LoadProgramIcon());
  // The application name is also the window class (WM_CLASS) under X11.
  QCoreApplication::setApplicationName(qtport::ToQString(app_title));
#ifdef KV_DESKTOP_FILE_NAME
  // Ties the windows to the installed desktop entry and its icon (the app id
  // under Wayland).
  QGuiApplication::setDesktopFileName(QStringLiteral(KV_DESKTOP_FILE_NAME));
#endif
  wake_target = std::make_unique<WakeTarget>();
}

void StopToolkit() {
  if (end_now_hook) {
    // The program has ended its loops: the platform's defaults again.
    for (int signal : {SIGTERM, SIGHUP, SIGINT}) std::signal(signal, SIG_DFL);
    qInstallMessageHandler(earlier_message_handler);
    end_now_hook = nullptr;
  }
  wake_target.reset();
  running_dialogs.clear();
  application.reset();
}

void LeaveWidgetsToProcessEnd() {
  // Qt takes its widgets down in the process, without a round trip each.
}

bool ProcessWaitingEvents() {
  QAbstractEventDispatcher* dispatcher =
      QAbstractEventDispatcher::instance(QThread::currentThread());
  if (dispatcher == nullptr || application == nullptr) return false;
  const unsigned delivered = application->delivered.load(std::memory_order_relaxed);
  if (dispatcher->processEvents(QEventLoop::AllEvents)) return true;
  return application->delivered.load(std::memory_order_relaxed) != delivered;
}

void WaitForEvents() {
  QAbstractEventDispatcher* dispatcher =
      QAbstractEventDispatcher::instance(QThread::currentThread());
  if (dispatcher != nullptr) {
    dispatcher->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  }
}

void PostWakeUp() {
  wake_target->PostWake();
}

void PostQuit() {
  QCoreApplication::postEvent(wake_target.get(), new QEvent(kQuitEvent));
}

void SetLoopHooks(std::function<void()> wake, std::function<void()> quit) {
  on_wake = std::move(wake);
  on_quit = std::move(quit);
}

void WatchEndRequests(std::function<void()> end_now) {
  end_now_hook = std::move(end_now);
  signal_fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (signal_fd >= 0) {
    auto* notifier = new QSocketNotifier(signal_fd, QSocketNotifier::Read, wake_target.get());
    QObject::connect(notifier, &QSocketNotifier::activated, [] {
      std::uint64_t count = 0;
      [[maybe_unused]] ssize_t taken = ::read(signal_fd, &count, sizeof count);
      RequestEnd();
    });
    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGHUP, SIGINT}) ::sigaction(signal, &action, nullptr);
  }
  earlier_message_handler = qInstallMessageHandler(WatchForLostDisplay);
}

void SetEntryErrorHook(std::function<void(TObject* sender, std::exception_ptr)> hook) {
  entry_error_hook = std::move(hook);
}

Rect ScreenArea() {
  QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return Rect{};
  QRect area = screen->geometry();
  return Rect{area.left(), area.top(), area.width(), area.height()};
}

std::string ExecutablePath() {
  char buffer[4096];
  ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length <= 0) return std::string();
  return std::string(buffer, static_cast<std::size_t>(length));
}

std::string TitleCase(std::string_view text) {
  QString title = qtport::ToQString(text);
  if (title.isEmpty()) return std::string();
  // Lower case from the second character on, in the text's own code page.
  return qtport::FromQString(title.left(1).toUpper() + title.mid(1).toLower());
}

}  // namespace port
