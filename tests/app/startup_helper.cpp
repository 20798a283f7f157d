// Runs the program's entry with a chat window that fails while it is built
// ("fail") or with the real chat window, closed as soon as the loop runs
// ("close"). Every message box that appears is printed to stdout as
// "box: <title>|<text bytes>|<visible forms>" and closed.
#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>
#include <cstring>

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
  bool fail = argc > 1 && std::strcmp(argv[1], "fail") == 0;
  return ProgramMain(argc, argv, [fail] {
    WatchBoxes();
    Application->InitApp();
    if (fail) {
      Application->MakeForm(BrokenForm);
    } else {
      Application->MakeForm(Form1);
      QTimer::singleShot(0, [] { Form1->Widget()->close(); });
    }
    Application->RunMessageLoop();
  });
}
