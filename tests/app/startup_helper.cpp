// Runs the program's entry with a chat window that fails while it is built
// ("fail"), with the real chat window, closed as soon as the loop runs
// ("close"), or with the new-address dialog open until the program is told to
// end ("dialog": prints "dialog open", then "modal result: <n>" when the
// dialog's loop returns). Every message box that appears is printed to stdout
// as "box: <title>|<text bytes>|<visible forms>" and closed.
#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>
#include <cstring>

#include "app/IPadd.h"
#include "app/chat.h"

namespace {

class TBrokenForm : public TForm {
 public:
  explicit TBrokenForm(TComponent* owner) : TForm(owner) {
    BeginLoading();
    SetCaption("Broken");
    throw Exception("Could not bind socket. Address and port are already in use");
  }
};

TBrokenForm* BrokenForm = nullptr;

void WatchBoxes() {
  auto* timer = new QTimer(QCoreApplication::instance());
  QObject::connect(timer, &QTimer::timeout, [] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || !box->isVisible()) return;
    int visible_forms = 0;
    for (QWidget* window : QApplication::topLevelWidgets()) {
      if (window != box && window->isVisible()) ++visible_forms;
    }
    QByteArray text = box->property("kvText").toByteArray();
    std::printf("box: %s|", box->windowTitle().toUtf8().constData());
    std::fwrite(text.constData(), 1, static_cast<std::size_t>(text.size()), stdout);
    std::printf("|%d\n", visible_forms);
    std::fflush(stdout);
    box->buttons().front()->click();
  });
  timer->start(5);
}

}  // namespace

int main(int argc, char** argv) {
  const char* mode = argc > 1 ? argv[1] : "";
  return ProgramMain(argc, argv, [mode] {
    WatchBoxes();
    Application->InitApp();
    if (std::strcmp(mode, "fail") == 0) {
      Application->MakeForm(BrokenForm);
    } else if (std::strcmp(mode, "dialog") == 0) {
      Application->MakeForm(Form1);
      Application->MakeForm(Form2);
      QTimer::singleShot(0, [] {
        // Runs inside the dialog's loop, once the dialog is shown.
        QTimer::singleShot(0, [] {
          std::printf("dialog open\n");
          std::fflush(stdout);
        });
        const TModalResult result = Form2->RunModal();
        std::printf("modal result: %d\n", static_cast<int>(result));
        std::fflush(stdout);
      });
    } else {
      Application->MakeForm(Form1);
      QTimer::singleShot(0, [] { Form1->Widget()->close(); });
    }
    Application->RunMessageLoop();
  });
}
