// The Qt port's windows: the form's widget with its close request, its release
// and its framing, the window operations, the modal state and the saved focus.
#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include "framework/gui/qt/QtPort_p.h"

namespace {

const QEvent::Type kReleaseEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

// A form's window. Closing it asks the client; Escape does nothing.
class KvWindow : public QWidget {
 public:
  explicit KvWindow(TWidgetClient* client) : client_(client) {
    setAttribute(Qt::WA_DeleteOnClose, false);
  }

  // Set while the client waits to hear that the window has its frame.
  bool watch_framing = false;

 protected:
  void closeEvent(QCloseEvent* event) override {
    event->ignore();
    qtport::RunGuarded(client_, [this] { client_->WidgetCloseRequested(); });
  }

  bool event(QEvent* event) override {
    // The window manager adds the frame only after the window is mapped.
    if (watch_framing && FrameKnown()) {
      watch_framing = false;
      // Not from inside this event (it may be a paint): once it is handled.
      QTimer::singleShot(0, this, [this] {
        if (!FrameKnown()) {
          watch_framing = true;
          return;
        }
        qtport::RunGuarded(client_, [this] { client_->WidgetFramed(); });
      });
    }
    if (event->type() == kReleaseEvent) {
      qtport::RunGuarded(client_, [this] { client_->WidgetReleased(); });
      return true;
    }
    return QWidget::event(event);
  }

 private:
  // While the window manager builds the frame, Qt can read the margins off a
  // frame window that is not sized yet, and the frame reads smaller than the
  // window (a window centred with it lands with its corner on the centre):
  // only a frame around the whole window is the real one.
  bool FrameKnown() const {
    return frameGeometry().size() != size() && frameGeometry().contains(geometry());
  }

  TWidgetClient* client_;
};

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

Rect FrameRect(NativeWidget window) {
  QRect frame = window->frameGeometry();
  return Rect{frame.left(), frame.top(), frame.width(), frame.height()};
}

void MoveFrame(NativeWidget window, int left, int top) {
  window->move(left, top);
}

void WatchFraming(NativeWidget window) {
  static_cast<KvWindow*>(window)->watch_framing = true;
}

void ShowWindow(NativeWidget window) {
  window->show();
  // The offscreen platform keeps no stacking order and says so on raise().
  if (QGuiApplication::platformName() != "offscreen") window->raise();
  window->activateWindow();
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
