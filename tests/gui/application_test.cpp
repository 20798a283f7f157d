// The application object: title rule, error display, the exit step, MakeForm
// and the hand-over of worker calls while a box is open.
#include "framework/gui/Application.h"

#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QPushButton>
#include <QTest>
#include <atomic>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "framework/core/Ansi.h"
#include "framework/core/Threads.h"
#include "support/modal_watch.h"

namespace {

// A form with one button whose handler the test chooses.
class ButtonForm : public TForm {
 public:
  explicit ButtonForm(TComponent* owner) : TForm(owner) {
    BeginLoading();
    SetCaption("Buttons");
    SetClientSize(200, 100);
    MakeField(Button, "Button");
    Button->SetBounds(10, 10, 80, 25);
    Button->SetCaption("Go");
    EndLoading();
  }
  TButton* Button = nullptr;
};

class ApplicationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    form_ = new ButtonForm(Application);
    form_->Show();
  }
  void TearDown() override { Application->ResetForTesting(); }

  void ClickButton() { QTest::mouseClick(form_->Button->Widget(), Qt::LeftButton); }

  ButtonForm* form_ = nullptr;
};

TEST(TitleRule, CutsDirectoryAndExtensionAndLowersTheRest) {
  EXPECT_EQ(TitleFromExePath("TALKER.EXE"), "Talker");
  EXPECT_EQ(TitleFromExePath("C:\\PROGRAMS\\TALKER.EXE"), "Talker");
  EXPECT_EQ(TitleFromExePath("Chat.Test.exe"), "Chat");
  EXPECT_EQ(TitleFromExePath("MY.CHAT.EXE"), "My");
  EXPECT_EQ(TitleFromExePath("/usr/bin/kvelmar"), "Kvelmar");
  EXPECT_EQ(TitleFromExePath(".hidden"), "");
}

TEST(TitleRule, LowersCyrillicInTheSystemCodePage) {
  EXPECT_EQ(TitleFromExePath(Ansi("/opt/ЧАТ.EXE")), Ansi("Чат"));
}

TEST(TitleRule, ApplicationTakesItFromTheRunningExecutable) {
  EXPECT_EQ(Application->AppTitle(), "Gui_tests");
}

TEST(FullStopRule, AppendsOnlyAfterCharactersAboveTheFullStop) {
  EXPECT_EQ(WithFullStop("Host not found."), "Host not found.");
  EXPECT_EQ(WithFullStop("Invalid argument"), "Invalid argument.");
  EXPECT_EQ(WithFullStop("trailing space "), "trailing space ");
  EXPECT_EQ(WithFullStop("in brackets (x)"), "in brackets (x)");
  EXPECT_EQ(WithFullStop("Stop!"), "Stop!");
  EXPECT_EQ(WithFullStop("Really?"), "Really?.");
  EXPECT_EQ(WithFullStop("Code:"), "Code:.");
  EXPECT_EQ(WithFullStop("Error 42"), "Error 42.");
  EXPECT_EQ(WithFullStop(Ansi("Ошибка")), Ansi("Ошибка."));
  EXPECT_EQ(WithFullStop(""), "");
}

TEST(ApplicationErrorTextTest, NamesClassModuleAddressAndMessage) {
  std::string text;
  try {
    throw EConvertError("Bad value!");
  } catch (...) {
    text = ApplicationErrorText(std::current_exception());
  }
  // The last-resort box only looks for a full stop.
  std::regex pattern(
      "Exception EConvertError in module gui_tests at [0-9A-F]{8}\\.\r\nBad value!\\.\r\n");
  EXPECT_TRUE(std::regex_match(text, pattern)) << text;
}

TEST(ApplicationErrorTextTest, KeepsAMessageThatEndsWithAFullStop) {
  std::string text;
  try {
    throw Exception("Could not bind socket. Address and port are already in use.");
  } catch (...) {
    text = ApplicationErrorText(std::current_exception());
  }
  EXPECT_NE(text.find("\r\nCould not bind socket. Address and port are already in use.\r\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find("use..\r\n"), std::string::npos);
}

TEST(ApplicationErrorTextTest, ForeignObjectGetsClassNameAndEmptyMessage) {
  std::string text;
  try {
    throw std::runtime_error("ignored");
  } catch (...) {
    text = ApplicationErrorText(std::current_exception());
  }
  std::regex pattern(
      "Exception (std::)?runtime_error in module gui_tests at [0-9A-F]{8}\\.\r\n\r\n");
  EXPECT_TRUE(std::regex_match(text, pattern)) << text;
}

TEST_F(ApplicationTest, HandlerExceptionShowsItsMessageUnderTheTitleAndTheProgramGoesOn) {
  BoxCloser closer;
  int clicks = 0;
  form_->Button->SetOnClick([&](TObject*) {
    ++clicks;
    throw Exception("Invalid argument");
  });
  ClickButton();
  ASSERT_EQ(closer.boxes.size(), 1u);
  EXPECT_EQ(closer.boxes[0].text, "Invalid argument.");
  EXPECT_EQ(closer.boxes[0].title, QString::fromStdString(Application->AppTitle()));
  EXPECT_EQ(closer.boxes[0].icon, QMessageBox::Critical);

  ClickButton();
  EXPECT_EQ(clicks, 2);
  EXPECT_EQ(closer.boxes.size(), 2u);
  EXPECT_TRUE(form_->Visible());
}

TEST_F(ApplicationTest, EmptyMessageShowsAnEmptyBox) {
  BoxCloser closer;
  form_->Button->SetOnClick([](TObject*) { throw Exception(""); });
  ClickButton();
  ASSERT_EQ(closer.boxes.size(), 1u);
  EXPECT_EQ(closer.boxes[0].text, "");
}

TEST_F(ApplicationTest, AbortIsSilentAndSkipsTheRestOfTheHandler) {
  BoxCloser closer;
  bool rest_ran = false;
  form_->Button->SetOnClick([&](TObject*) {
    throw EAbort("Operation aborted");
    rest_ran = true;
  });
  ClickButton();
  EXPECT_TRUE(closer.boxes.empty());
  EXPECT_FALSE(rest_ran);
}

TEST_F(ApplicationTest, ForeignObjectGetsTheApplicationErrorBox) {
  BoxCloser closer;
  form_->Button->SetOnClick([](TObject*) { throw std::runtime_error("not ours"); });
  ClickButton();
  ASSERT_EQ(closer.boxes.size(), 1u);
  EXPECT_EQ(closer.boxes[0].title, "Application Error");
  EXPECT_TRUE(std::regex_search(closer.boxes[0].text,
                                std::regex("^Exception (std::)?runtime_error in module ")))
      << closer.boxes[0].text;
}

TEST_F(ApplicationTest, MessageBoxTextIsPlainAndCyrillicSurvives) {
  BoxCloser closer;
  form_->Button->SetOnClick([](TObject*) { throw Exception(Ansi("<b>Привет</b>")); });
  ClickButton();
  ASSERT_EQ(closer.boxes.size(), 1u);
  EXPECT_EQ(closer.boxes[0].text, Ansi("<b>Привет</b>."));
}

TEST_F(ApplicationTest, ShowAppMessageBoxReturnsTheButtonPressed) {
  ModalWatcher answer([](QWidget* widget) {
    auto* box = qobject_cast<QMessageBox*>(widget);
    if (box != nullptr)
      QTimer::singleShot(0, box, [box] { box->button(QMessageBox::No)->click(); });
  });
  EXPECT_EQ(Application->ShowAppMessageBox("Go on?", "Question", MB_YESNO | MB_ICONQUESTION), IDNO);
}

TEST_F(ApplicationTest, AltF4InAMessageBoxEndsItAsItsCloseBoxDoes) {
  ModalWatcher closer([](QWidget* widget) {
    auto* box = qobject_cast<QMessageBox*>(widget);
    if (box == nullptr) return;
    QTest::keyClick(box->focusWidget() != nullptr ? box->focusWidget() : box, Qt::Key_F4,
                    Qt::AltModifier);
    // Still open: end it with the answer the test does not expect, so that it fails.
    QTimer::singleShot(0, box, [box] { box->button(QMessageBox::Ok)->click(); });
  });
  EXPECT_EQ(Application->ShowAppMessageBox("Go on?", "Question", MB_OKCANCEL), IDCANCEL);
}

TEST_F(ApplicationTest, CtrlCInAMessageBoxCopiesCaptionTextAndButtons) {
  QString copied;
  ModalWatcher copier([&](QWidget* widget) {
    QTest::keyClick(widget, Qt::Key_C, Qt::ControlModifier);
    copied = QGuiApplication::clipboard()->text();
    QTimer::singleShot(0, widget, [widget] { widget->close(); });
  });
  // The button is the toolkit's own, in Russian as every text of the program.
  Application->ShowAppMessageBox(Ansi("Socket Error # 11001\r\nХост"), "Kvelmar", MB_OKCANCEL);
  EXPECT_EQ(copied,
            "---------------------------\nKvelmar\n---------------------------\n"
            "Socket Error # 11001\nХост\n---------------------------\nОК   Отмена\n"
            "---------------------------\n")
      << copied.toStdString();
}

// A worker that hands one call to the main thread.
class CallingThread : public TThread {
 public:
  explicit CallingThread(std::atomic<bool>* ran) : TThread(false), ran_(ran) {}

 protected:
  void ThreadBody() override {
    RunOnMainThread([this] { ran_->store(CurrentThreadID() == MainThreadID()); });
  }

 private:
  std::atomic<bool>* ran_;
};

TEST_F(ApplicationTest, WorkerCallRunsWhileAMessageBoxIsOpen) {
  std::atomic<bool> ran{false};
  CallingThread* worker = nullptr;
  bool ran_inside_box = false;
  ModalWatcher watcher([&](QWidget* widget) {
    auto* box = qobject_cast<QMessageBox*>(widget);
    if (box == nullptr) return;
    worker = NewThread<CallingThread>(&ran);
    // The box's own loop must run the handed-over call.
    ran_inside_box = WaitFor([&] { return ran.load(); });
    QTimer::singleShot(0, box, [box] { box->buttons().front()->click(); });
  });
  Application->ShowAppMessageBox("Waiting", "Box", MB_OK);
  EXPECT_TRUE(ran_inside_box);
  ASSERT_NE(worker, nullptr);
  EXPECT_EQ(worker->WaitUntilDone(), 0);
  delete worker;
}

TEST_F(ApplicationTest, PumpOneMessageRunsHandedOverCallsInItsIdleStep) {
  std::atomic<bool> ran{false};
  CallingThread* worker = NewThread<CallingThread>(&ran);
  QDeadlineTimer deadline(10000);
  while (!ran.load() && !deadline.hasExpired()) Application->PumpOneMessage();
  EXPECT_TRUE(ran.load());
  worker->WaitUntilDone();
  delete worker;
}

// Records the order in which components end.
std::vector<std::string>* g_destroyed = nullptr;

class LoggedComponent : public TComponent {
 public:
  using TComponent::TComponent;
  ~LoggedComponent() override {
    if (g_destroyed != nullptr) g_destroyed->push_back(Name());
  }
};

class LoggedPanel : public TPanel {
 public:
  using TPanel::TPanel;
  ~LoggedPanel() override {
    if (g_destroyed != nullptr) g_destroyed->push_back(Name());
  }
};

class LoggedEdit : public TEdit {
 public:
  using TEdit::TEdit;
  ~LoggedEdit() override {
    if (g_destroyed != nullptr) g_destroyed->push_back(Name());
  }
};

class LoggedForm : public TForm {
 public:
  explicit LoggedForm(TComponent* owner) : TForm(owner) {
    BeginLoading();
    MakeField(First, "First");
    MakeField(Box, "Box");
    MakeField(Inner, "Inner", Box);
    MakeField(Second, "Second");
    MakeField(Edit, "Edit");
    EndLoading();
  }
  ~LoggedForm() override {
    if (g_destroyed != nullptr) g_destroyed->push_back("form:" + Name());
  }
  LoggedComponent* First = nullptr;
  LoggedPanel* Box = nullptr;
  LoggedEdit* Inner = nullptr;
  LoggedComponent* Second = nullptr;
  LoggedEdit* Edit = nullptr;
};

TEST(FormDestruction, ControlsGoFirstChildrenBeforeParentsThenComponentsLastFirst) {
  std::vector<std::string> destroyed;
  g_destroyed = &destroyed;
  auto* form = new LoggedForm(nullptr);
  form->DestroyContents();
  EXPECT_EQ(form->Edit, nullptr);
  EXPECT_EQ(form->Box, nullptr);
  EXPECT_EQ(form->First, nullptr);
  delete form;
  g_destroyed = nullptr;
  std::vector<std::string> expected = {"Edit", "Inner", "Box", "Second", "First", "form:"};
  EXPECT_EQ(destroyed, expected);
}

TEST(ExitStep, DestroysFormsLastCreatedFirst) {
  std::vector<std::string> destroyed;
  g_destroyed = &destroyed;
  LoggedForm* one = nullptr;
  LoggedForm* two = nullptr;
  Application->MakeForm(one);
  one->SetName("one");
  Application->MakeForm(two);
  two->SetName("two");
  EXPECT_EQ(Application->MainWindow(), one);
  Application->ResetForTesting();
  g_destroyed = nullptr;
  ASSERT_GE(destroyed.size(), 2u);
  std::vector<std::string> forms;
  for (const std::string& name : destroyed) {
    if (name.rfind("form:", 0) == 0) forms.push_back(name);
  }
  EXPECT_EQ(forms, (std::vector<std::string>{"form:two", "form:one"}));
  EXPECT_EQ(Application->MainWindow(), nullptr);
}

class SelfCheckingForm;
SelfCheckingForm* g_reference = nullptr;
bool g_seen_during_construction = false;

class SelfCheckingForm : public TForm {
 public:
  explicit SelfCheckingForm(TComponent* owner) : TForm(owner) {
    g_seen_during_construction = g_reference == this;
    if (fail) throw Exception("Could not build");
  }
  static inline bool fail = false;
};

TEST(MakeFormTest, ReferenceIsSetBeforeConstructionAndClearedWhenItRaises) {
  SelfCheckingForm::fail = false;
  Application->MakeForm(g_reference);
  EXPECT_TRUE(g_seen_during_construction);
  EXPECT_EQ(Application->MainWindow(), g_reference);

  SelfCheckingForm* second = nullptr;
  SelfCheckingForm::fail = true;
  g_reference = nullptr;
  EXPECT_THROW(Application->MakeForm(g_reference), Exception);
  EXPECT_EQ(g_reference, nullptr);
  SelfCheckingForm::fail = false;
  Application->MakeForm(second);
  EXPECT_NE(Application->MainWindow(), second);  // later forms never replace it
  Application->ResetForTesting();
}

TEST(MessageLoop, ClosingTheMainWindowEndsTheLoop) {
  ButtonForm* main = nullptr;
  Application->MakeForm(main);
  ASSERT_EQ(Application->MainWindow(), main);
  QTimer::singleShot(0, [main] { main->Widget()->close(); });
  Application->RunMessageLoop();
  EXPECT_TRUE(Application->QuitRequested());
  Application->ResetForTesting();
  EXPECT_FALSE(Application->QuitRequested());
}

TEST(MessageLoop, AltF4InTheMainWindowEndsTheLoop) {
  ButtonForm* main = nullptr;
  Application->MakeForm(main);
  int closes = 0;
  main->SetOnClose([&](TObject*, TCloseAction&) { ++closes; });
  QTimer::singleShot(0, [&] {
    main->Button->SetFocus();
    QTest::keyClick(main->Button->Widget(), Qt::Key_F4, Qt::AltModifier);
    EXPECT_EQ(closes, 1);
    if (closes == 0) main->CloseForm();  // no hang on failure
  });
  Application->RunMessageLoop();
  EXPECT_TRUE(Application->QuitRequested());
  Application->ResetForTesting();
}

TEST(MessageLoop, ReturnsAtOnceWithoutAMainWindow) {
  Application->ResetForTesting();
  Application->RunMessageLoop();
  EXPECT_FALSE(Application->QuitRequested());
}

TEST(MessageLoop, ExceptionInOneStepIsShownAndTheLoopGoesOn) {
  ButtonForm* main = nullptr;
  Application->MakeForm(main);
  BoxCloser closer;
  QTimer::singleShot(0, [] { throw Exception("From a timer"); });
  QTimer::singleShot(0, [main] { main->CloseForm(); });
  Application->RunMessageLoop();
  ASSERT_EQ(closer.boxes.size(), 1u);
  EXPECT_EQ(closer.boxes[0].text, "From a timer.");
  Application->ResetForTesting();
}

}  // namespace
