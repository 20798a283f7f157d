// Test helpers for real modal dialogs and message boxes: a watcher that polls
// for the active modal widget and acts on it, and a bounded wait that keeps
// the event loop running.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QByteArray>
#include <QDeadlineTimer>
#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

// What a message box showed.
struct SeenBox {
  std::string text;  // the exact bytes (Windows-1251)
  QString title;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
};

// Every few milliseconds, looks for the active modal widget; when one is up
// and ready(widget) holds, runs act(widget) once for that showing. Keeps
// watching until destroyed, so several boxes in a row are handled.
class ModalWatcher {
 public:
  using Action = std::function<void(QWidget*)>;
  using Ready = std::function<bool(QWidget*)>;

  explicit ModalWatcher(Action act, Ready ready = nullptr)
      : act_(std::move(act)), ready_(std::move(ready)) {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      // A widget counts again once it has been hidden or destroyed.
      std::erase_if(handled_,
                    [](const QPointer<QWidget>& w) { return w.isNull() || !w->isVisible(); });
      QWidget* modal = QApplication::activeModalWidget();
      if (modal == nullptr) return;
      for (const QPointer<QWidget>& w : handled_) {
        if (w == modal) return;
      }
      if (ready_ && !ready_(modal)) return;
      handled_.emplace_back(modal);
      ++count_;
      act_(modal);
    });
    timer_.start(5);
  }

  int count() const { return count_; }

 private:
  Action act_;
  Ready ready_;
  QTimer timer_;
  std::vector<QPointer<QWidget>> handled_;
  int count_ = 0;
};

// Closes every message box that appears with its first button and records it.
class BoxCloser {
 public:
  BoxCloser()
      : watcher_([this](QWidget* widget) {
          auto* box = qobject_cast<QMessageBox*>(widget);
          if (box == nullptr) return;
          QByteArray bytes = box->property("kvText").toByteArray();
          boxes.push_back({std::string(bytes.constData(), static_cast<std::size_t>(bytes.size())),
                           box->windowTitle(), box->icon()});
          QTimer::singleShot(0, box, [box] { box->buttons().front()->click(); });
        }) {}

  std::vector<SeenBox> boxes;

 private:
  ModalWatcher watcher_;
};

// Runs the event loop until condition holds or the deadline passes.
inline bool WaitFor(const std::function<bool()>& condition, int milliseconds = 10000) {
  return QTest::qWaitFor(condition, milliseconds);
}
