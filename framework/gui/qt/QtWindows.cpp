// The Qt port's windows: the form's widget with its close request, its release
// and its framing, the window operations, the modal state and the saved focus.
#include <xcb/xcb.h>

#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "framework/gui/qt/QtPort_p.h"

namespace {

const QEvent::Type kReleaseEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

// ---- the frame's margins under X11

struct FreeReply {
  void operator()(void* reply) const { std::free(reply); }
};
template <typename Reply>
using ReplyPtr = std::unique_ptr<Reply, FreeReply>;

xcb_atom_t Atom(xcb_connection_t* connection, const char* name) {
  ReplyPtr<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
      connection, xcb_intern_atom(connection, 1, std::strlen(name), name), nullptr));
  return reply != nullptr ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

// The 32-bit items of a CARDINAL or ATOM property; empty when it is missing.
std::vector<uint32_t> Property32(xcb_connection_t* connection, xcb_window_t window,
                                 xcb_atom_t property, xcb_atom_t type, uint32_t max_items) {
  if (property == XCB_ATOM_NONE) return {};
  ReplyPtr<xcb_get_property_reply_t> reply(xcb_get_property_reply(
      connection, xcb_get_property(connection, 0, window, property, type, 0, max_items), nullptr));
  if (reply == nullptr || reply->type != type || reply->format != 32) return {};
  const auto* items = static_cast<const uint32_t*>(xcb_get_property_value(reply.get()));
  return std::vector<uint32_t>(items, items + xcb_get_property_value_length(reply.get()) / 4);
}

// The margins an EWMH window manager states in _NET_FRAME_EXTENTS, in device
// pixels; none where the display is not X11 or the window manager does not
// keep that property. A window manager that keeps it sets it once the window
// stands in its frame, so until then the window has no frame (zero margins).
std::optional<QMargins> StatedFrameMargins(const QWindow* handle) {
  // The offscreen platform offers the X11 interface too, without a connection.
  const auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
  xcb_connection_t* connection = x11 != nullptr ? x11->connection() : nullptr;
  if (connection == nullptr || handle->handle() == nullptr) return std::nullopt;
  const auto window = static_cast<xcb_window_t>(handle->winId());
  // Atoms stay for the X server's life: asked once, not at every framing event.
  static const xcb_atom_t extents_atom = Atom(connection, "_NET_FRAME_EXTENTS");
  static const xcb_atom_t supported_atom = Atom(connection, "_NET_SUPPORTED");
  const std::vector<uint32_t> extents =
      Property32(connection, window, extents_atom, XCB_ATOM_CARDINAL, 4);
  if (extents.size() == 4) {
    // left, right, top, bottom
    return QMargins(static_cast<int>(extents[0]), static_cast<int>(extents[2]),
                    static_cast<int>(extents[1]), static_cast<int>(extents[3]));
  }
  ReplyPtr<xcb_query_tree_reply_t> tree(
      xcb_query_tree_reply(connection, xcb_query_tree(connection, window), nullptr));
  if (tree == nullptr) return std::nullopt;
  const std::vector<uint32_t> supported =
      Property32(connection, tree->root, supported_atom, XCB_ATOM_ATOM, 4096);
  if (std::find(supported.begin(), supported.end(), extents_atom) == supported.end()) {
    return std::nullopt;
  }
  return QMargins();
}

// The window's frame margins. Qt's own are a cache that it fills, where the
// property is missing, by measuring the window tree: while a window manager
// builds the frame it reparents the window to the corner of a frame that it
// sizes, and only then moves the window into place and states the extents.
// Margins measured in between read 0 at the left and top (a window placed by
// them lands where its frame should), and Qt keeps them until the window's
// next configure event. So the window manager's statement comes first.
QMargins FrameMargins(const QWindow* handle) {
  if (const std::optional<QMargins> stated = StatedFrameMargins(handle)) {
    const qreal ratio = handle->devicePixelRatio();
    return QMargins(qRound(stated->left() / ratio), qRound(stated->top() / ratio),
                    qRound(stated->right() / ratio), qRound(stated->bottom() / ratio));
  }
  return handle->frameMargins();
}

class KvWindow;

// The windows that wait for their frame, and the X11 events that can bring
// it: the window manager reparents a window into its frame and announces the
// frame's extents in a property. Neither need move the window (a window
// manager that frames a window where it stands, above all one that starts
// after the window was shown, sends no configure event), so no Qt event need
// follow them, and the widget's own frame geometry, which Qt refreshes only
// when the window moves, can stay the bare window for good. The watch reads
// the frame's margins (see FrameMargins) after each such event instead. Lives
// as long as the application it filters for.
class FrameEvents : public QObject, public QAbstractNativeEventFilter {
 public:
  static void Watch(KvWindow* window);
  static void Forget(KvWindow* window);
  static bool Watches(const KvWindow* window);

  bool nativeEventFilter(const QByteArray& type, void* message, qintptr* result) override;

 private:
  using QObject::QObject;

  std::vector<QPointer<KvWindow>> watched_;
};

QPointer<FrameEvents> frame_events;

// A form's window. Closing it asks the client; Escape does nothing.
class KvWindow : public QWidget {
 public:
  explicit KvWindow(TWidgetClient* client) : client_(client) {
    setAttribute(Qt::WA_DeleteOnClose, false);
  }
  ~KvWindow() override { FrameEvents::Forget(this); }

  // Reports WidgetFramed once the window manager has framed the window: after
  // the events it is handling now, since Qt reads the frame from them.
  void CheckFramedSoon() {
    QTimer::singleShot(0, this, [this] {
      if (!FrameEvents::Watches(this) || !FrameKnown()) return;
      FrameEvents::Forget(this);
      qtport::RunGuarded(client_, [this] { client_->WidgetFramed(); });
    });
  }

 protected:
  void closeEvent(QCloseEvent* event) override {
    event->ignore();
    qtport::RunGuarded(client_, [this] { client_->WidgetCloseRequested(); });
  }

  bool event(QEvent* event) override {
    if (event->type() == kReleaseEvent) {
      qtport::RunGuarded(client_, [this] { client_->WidgetReleased(); });
      return true;
    }
    if (event->type() == QEvent::WindowActivate || event->type() == QEvent::WindowDeactivate) {
      const bool active = event->type() == QEvent::WindowActivate;
      qtport::RunGuarded(client_, [this, active] { client_->WidgetActivated(active); });
    }
    return QWidget::event(event);
  }

 private:
  // Only a frame around the whole window is the real one: a window manager
  // that keeps no _NET_FRAME_EXTENTS leaves Qt to measure the frame from the
  // window tree, which can read smaller than the window while it is built.
  bool FrameKnown() const {
    const QWindow* handle = windowHandle();
    if (handle == nullptr) return false;
    const QMargins margins = FrameMargins(handle);
    const QRect window = handle->geometry();
    const QRect frame = window.marginsAdded(margins);
    return frame.size() != window.size() && frame.contains(window);
  }

  TWidgetClient* client_;
};

void FrameEvents::Watch(KvWindow* window) {
  if (frame_events == nullptr) {
    frame_events = new FrameEvents(QCoreApplication::instance());
    QCoreApplication::instance()->installNativeEventFilter(frame_events);
  }
  Forget(window);
  frame_events->watched_.emplace_back(window);
}

void FrameEvents::Forget(KvWindow* window) {
  if (frame_events == nullptr) return;
  std::erase_if(frame_events->watched_,
                [window](const QPointer<KvWindow>& w) { return w == nullptr || w == window; });
}

bool FrameEvents::Watches(const KvWindow* window) {
  return frame_events != nullptr &&
         std::find(frame_events->watched_.begin(), frame_events->watched_.end(), window) !=
             frame_events->watched_.end();
}

bool FrameEvents::nativeEventFilter(const QByteArray& type, void* message, qintptr*) {
  if (watched_.empty() || type != "xcb_generic_event_t") return false;
  const auto* event = static_cast<const xcb_generic_event_t*>(message);
  xcb_window_t window = 0;
  switch (event->response_type & 0x7f) {
    case XCB_REPARENT_NOTIFY:
      window = reinterpret_cast<const xcb_reparent_notify_event_t*>(event)->window;
      break;
    case XCB_PROPERTY_NOTIFY:
      window = reinterpret_cast<const xcb_property_notify_event_t*>(event)->window;
      break;
    case XCB_CONFIGURE_NOTIFY:
      window = reinterpret_cast<const xcb_configure_notify_event_t*>(event)->window;
      break;
    default:
      return false;
  }
  for (const QPointer<KvWindow>& watched : watched_) {
    if (watched != nullptr && watched->internalWinId() == window) watched->CheckFramedSoon();
  }
  return false;  // Qt handles the event as ever
}

}  // namespace

QWidget* qtport::CreateWindowWidget(TWidgetClient* client) {
  return new KvWindow(client);
}

namespace port {

// ---- windows ----

void RealizeWindow(NativeWidget window) {
  window->winId();
}

void SetWindowFrame(NativeWidget window, WindowFrame frame, bool system_menu, bool minimize,
                    bool maximize, int client_width, int client_height) {
  Qt::WindowFlags flags;
  switch (frame) {
    case WindowFrame::None:
      flags = Qt::Window | Qt::FramelessWindowHint;
      break;
    case WindowFrame::Dialog:
      flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
              Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
      break;
    case WindowFrame::Fixed:
    case WindowFrame::Sizeable:
      flags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
      if (system_menu) flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
      if (minimize) flags |= Qt::WindowMinimizeButtonHint;
      if (maximize && frame == WindowFrame::Sizeable) flags |= Qt::WindowMaximizeButtonHint;
      break;
  }
  bool shown = window->isVisible();
  if (window->windowFlags() != flags) window->setWindowFlags(flags);
  if (frame == WindowFrame::Sizeable) {
    window->setMinimumSize(0, 0);
    window->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    window->resize(client_width, client_height);
  } else {
    window->setFixedSize(client_width, client_height);
  }
  if (shown && !window->isVisible()) window->show();
}

// The frame as it stands now (see FrameMargins); the widget's own frame
// geometry can be older (see FrameEvents).
Rect FrameRect(NativeWidget window) {
  const QWindow* handle = window->windowHandle();
  const QRect frame = handle != nullptr ? handle->geometry().marginsAdded(FrameMargins(handle))
                                        : window->frameGeometry();
  return Rect{frame.left(), frame.top(), frame.width(), frame.height()};
}

// Places the window itself, inside the frame that FrameRect reads, so that
// the frame lands at left, top.
void MoveFrame(NativeWidget window, int left, int top) {
  const QWindow* handle = window->windowHandle();
  const QMargins frame = handle != nullptr ? FrameMargins(handle) : QMargins();
  window->setGeometry(QRect(QPoint(left + frame.left(), top + frame.top()), window->size()));
}

void WatchFraming(NativeWidget window) {
  FrameEvents::Watch(static_cast<KvWindow*>(window));
}

void ShowWindow(NativeWidget window) {
  window->show();
  // The offscreen platform keeps no stacking order and says so on raise().
  if (QGuiApplication::platformName() != "offscreen") window->raise();
  window->activateWindow();
}

// Qt's urgency hint: under X11 it asks the window manager for
// _NET_WM_STATE_DEMANDS_ATTENTION, and takes the request back when the window
// is activated; other platforms show it their own way.
void RequestAttention(NativeWidget window) {
  QApplication::alert(window, 0);
}

void BeginModal(NativeWidget window, NativeWidget owner) {
  if (owner != nullptr) {
    QPoint position = window->pos();
    window->setParent(owner, window->windowFlags());
    window->move(position);
  }
  window->setWindowModality(Qt::ApplicationModal);
}

void EndModal(NativeWidget window) {
  if (window->parentWidget() != nullptr) {
    QPoint last = window->pos();
    window->setParent(nullptr, window->windowFlags());
    window->move(last);
  }
  window->setWindowModality(Qt::NonModal);
}

void ReleaseMouse() {
  if (QWidget* grabber = QWidget::mouseGrabber()) grabber->releaseMouse();
}

void PostRelease(NativeWidget window) {
  QCoreApplication::postEvent(window, new QEvent(kReleaseEvent));
}

struct SavedFocus::State {
  QPointer<QWidget> active = QApplication::activeWindow();
  QPointer<QWidget> focus = QApplication::focusWidget();
};

SavedFocus::SavedFocus() : state_(std::make_unique<State>()) {}
SavedFocus::~SavedFocus() = default;

NativeWidget SavedFocus::Active() const {
  return state_->active;
}

void SavedFocus::Restore() {
  if (state_->active != nullptr) state_->active->activateWindow();
  if (state_->focus != nullptr) state_->focus->setFocus(Qt::ActiveWindowFocusReason);
}

}  // namespace port
