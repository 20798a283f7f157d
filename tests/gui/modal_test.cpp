// Modal forms: results, the close box, refusals, the quit request, input of
// other windows and the keys of a dialog.
#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QTest>
#include <atomic>

#include "framework/core/Threads.h"
#include "framework/gui/Application.h"
#include "support/modal_watch.h"

namespace {

class DialogForm : public TForm {
 public:
  explicit DialogForm(TComponent* owner) : TForm(owner) {
    BeginLoading();
    SetCaption("Dialog");
    SetBorderStyle(bsDialog);
    SetClientSize(202, 111);
    SetPosition(poScreenCenter);
    MakeField(Edit, "Edit");
    Edit->SetBounds(24, 32, 33, 21);
    MakeField(Ok, "Ok");
    Ok->SetBounds(24, 72, 75, 25);
    Ok->SetCaption("OK");
    Ok->SetModalResult(mrOk);
    MakeField(Cancel, "Cancel");
    Cancel->SetBounds(104, 72, 75, 25);
    Cancel->SetCaption("Cancel");
    Cancel->SetModalResult(mrCancel);
    MakeField(Neutral, "Neutral");
    Neutral->SetBounds(104, 8, 75, 25);
    Neutral->SetCaption("Nothing");
    EndLoading();
  }
  TEdit* Edit = nullptr;
  TBitBtn* Ok = nullptr;
  TBitBtn* Cancel = nullptr;
  TBitBtn* Neutral = nullptr;
};

class MainForm : public TForm {
 public:
  explicit MainForm(TComponent* owner) : TForm(owner) {
    BeginLoading();
    SetClientSize(300, 200);
    MakeField(Button, "Button");
    Button->SetBounds(10, 10, 80, 25);
    EndLoading();
  }
  TButton* Button = nullptr;
};

class ModalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Application->MakeForm(main_);
    Application->MakeForm(dialog_);
    main_->Show();
  }
  void TearDown() override { Application->ResetForTesting(); }

  // Runs the dialog while act runs inside it once it is up.
  TModalResult RunDialog(const std::function<void()>& act) {
    ModalWatcher watcher([&](QWidget* widget) {
      if (widget == dialog_->Widget()) QTimer::singleShot(0, act);
    });
    return dialog_->RunModal();
  }

  // A click as the window system delivers it, so that modality applies.
  static void ClickThroughWindow(TControl* control) {
    QWidget* widget = control->Widget();
    QPoint at = widget->mapTo(widget->window(), widget->rect().center());
    QTest::mouseClick(widget->window()->windowHandle(), Qt::LeftButton, Qt::NoModifier, at);
  }

  MainForm* main_ = nullptr;
  DialogForm* dialog_ = nullptr;
};

TEST_F(ModalTest, OkButtonEndsTheLoopWithOne) {
  TModalResult result =
      RunDialog([this] { QTest::mouseClick(dialog_->Ok->Widget(), Qt::LeftButton); });
  EXPECT_EQ(result, mrOk);
  EXPECT_FALSE(dialog_->Visible());
  EXPECT_FALSE(dialog_->Widget()->isVisible());
  EXPECT_FALSE(dialog_->IsModal());
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(ModalTest, CancelButtonEndsTheLoopWithTwo) {
  EXPECT_EQ(RunDialog([this] { dialog_->Cancel->Click(); }), mrCancel);
}

TEST_F(ModalTest, CloseBoxGivesTwo) {
  EXPECT_EQ(RunDialog([this] { dialog_->Widget()->close(); }), mrCancel);
  EXPECT_FALSE(dialog_->Visible());
}

// Alt+F4 that reaches the dialog (the window manager did not take it) closes
// it as its close box does, from any of its controls, asking OnCloseQuery
// first; Alt with another key, or F4 alone, closes nothing.
TEST_F(ModalTest, AltF4InTheDialogClosesItAsItsCloseBoxDoes) {
  int queries = 0;
  dialog_->SetOnCloseQuery([&](TObject*, bool& can_close) { can_close = ++queries > 1; });
  TModalResult result = RunDialog([&] {
    dialog_->Edit->SetFocus();
    QTest::keyClick(dialog_->Edit->Widget(), Qt::Key_F4);
    QTest::keyClick(dialog_->Edit->Widget(), Qt::Key_F3, Qt::AltModifier);
    QTest::keyClick(dialog_->Edit->Widget(), Qt::Key_F4, Qt::AltModifier | Qt::ShiftModifier);
    EXPECT_EQ(dialog_->ModalResult(), mrNone);
    QTest::keyClick(dialog_->Edit->Widget(), Qt::Key_F4, Qt::AltModifier);  // refused
    QTimer::singleShot(0, [&] {
      EXPECT_EQ(queries, 1);
      EXPECT_TRUE(dialog_->Visible());
      dialog_->Ok->SetFocus();
      QTest::keyClick(dialog_->Ok->Widget(), Qt::Key_F4, Qt::AltModifier);
      EXPECT_EQ(dialog_->ModalResult(), mrCancel);
      if (dialog_->ModalResult() == mrNone) {  // no hang on failure
        dialog_->SetOnCloseQuery(nullptr);
        dialog_->Cancel->Click();
      }
    });
  });
  EXPECT_EQ(queries, 2);
  EXPECT_EQ(result, mrCancel);
  EXPECT_FALSE(dialog_->Visible());
  EXPECT_FALSE(Application->QuitRequested());
}

TEST_F(ModalTest, ButtonWithoutModalResultDoesNotEndTheLoop) {
  int neutral_clicks = 0;
  dialog_->Neutral->SetOnClick([&](TObject*) { ++neutral_clicks; });
  TModalResult result = RunDialog([&] {
    dialog_->Neutral->Click();
    QTimer::singleShot(0, [&] {
      EXPECT_TRUE(dialog_->Visible());
      dialog_->Ok->Click();
    });
  });
  EXPECT_EQ(neutral_clicks, 1);
  EXPECT_EQ(result, mrOk);
}

TEST_F(ModalTest, ClickSetsTheModalResultBeforeOnClickRuns) {
  TModalResult seen = -1;
  dialog_->Ok->SetOnClick([&](TObject*) { seen = dialog_->ModalResult(); });
  RunDialog([this] { dialog_->Ok->Click(); });
  EXPECT_EQ(seen, mrOk);
}

TEST_F(ModalTest, RefusedCloseKeepsTheDialogOpen) {
  int queries = 0;
  dialog_->SetOnCloseQuery([&](TObject*, bool& can_close) { can_close = ++queries > 1; });
  TModalResult result = RunDialog([&] {
    dialog_->Ok->Click();
    QTimer::singleShot(0, [&] {
      EXPECT_TRUE(dialog_->Visible());
      EXPECT_EQ(dialog_->ModalResult(), mrNone);
      dialog_->Cancel->Click();
    });
  });
  EXPECT_EQ(queries, 2);
  EXPECT_EQ(result, mrCancel);
}

TEST_F(ModalTest, ExceptionInCloseQueryIsShownAndTheDialogStays) {
  BoxCloser closer;
  bool fail = true;
  dialog_->SetOnCloseQuery([&](TObject*, bool&) {
    if (fail) {
      fail = false;
      throw Exception("Not now");
    }
  });
  TModalResult result = RunDialog([&] {
    dialog_->Ok->Click();
    QTimer::singleShot(0, [&] { dialog_->Ok->Click(); });
  });
  ASSERT_EQ(closer.boxes.size(), 1u);
  EXPECT_EQ(closer.boxes[0].text, "Not now.");
  EXPECT_EQ(result, mrOk);
}

TEST_F(ModalTest, QuitRequestEndsTheDialogWithTwo) {
  EXPECT_EQ(RunDialog([] { Application->Quit(); }), mrCancel);
  EXPECT_TRUE(Application->QuitRequested());
}

TEST_F(ModalTest, VisibleFormCannotBeMadeModal) {
  dialog_->Show();
  try {
    dialog_->RunModal();
    FAIL() << "RunModal on a visible form returned";
  } catch (const EInvalidOperation& e) {
    EXPECT_EQ(e.Message(), "Cannot make a visible window modal");
  }
}

TEST_F(ModalTest, DisabledFormCannotBeMadeModal) {
  dialog_->SetEnabled(false);
  EXPECT_THROW(dialog_->RunModal(), EInvalidOperation);
}

TEST_F(ModalTest, ExceptionFromOnShowLeavesTheDialogHiddenAndReachesTheCaller) {
  dialog_->SetOnShow([](TObject*) { throw Exception("Show failed"); });
  EXPECT_THROW(dialog_->RunModal(), Exception);
  EXPECT_FALSE(dialog_->Visible());
  EXPECT_FALSE(dialog_->IsModal());
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(ModalTest, OtherWindowsTakeNoInputWhileTheDialogRuns) {
  int main_clicks = 0;
  main_->Button->SetOnClick([&](TObject*) { ++main_clicks; });
  RunDialog([&] {
    EXPECT_EQ(QApplication::activeModalWidget(), dialog_->Widget());
    ClickThroughWindow(main_->Button);
    dialog_->Ok->Click();
  });
  EXPECT_EQ(main_clicks, 0);
  ClickThroughWindow(main_->Button);
  EXPECT_EQ(main_clicks, 1);
}

TEST_F(ModalTest, EnterClicksTheFocusedButton) {
  TModalResult result = RunDialog([&] {
    dialog_->Ok->SetFocus();
    QTest::keyClick(dialog_->Ok->Widget(), Qt::Key_Return);
  });
  EXPECT_EQ(result, mrOk);
}

TEST_F(ModalTest, EnterInAnEditAndEscapeClickNothing) {
  int clicks = 0;
  for (TBitBtn* button : {dialog_->Ok, dialog_->Cancel, dialog_->Neutral}) {
    button->SetOnClick([&](TObject*) { ++clicks; });
  }
  TModalResult result = RunDialog([&] {
    dialog_->Edit->SetFocus();
    QTest::keyClick(dialog_->Edit->Widget(), Qt::Key_Return);
    QTest::keyClick(dialog_->Edit->Widget(), Qt::Key_Escape);
    QTest::keyClick(dialog_->Widget(), Qt::Key_Escape);
    QTimer::singleShot(0, [&] {
      EXPECT_EQ(clicks, 0);
      EXPECT_TRUE(dialog_->Visible());
      dialog_->Widget()->close();
    });
  });
  EXPECT_EQ(result, mrCancel);
}

TEST_F(ModalTest, EnterWithCtrlDoesNotClick) {
  TModalResult result = RunDialog([&] {
    dialog_->Ok->SetFocus();
    QTest::keyClick(dialog_->Ok->Widget(), Qt::Key_Return, Qt::ControlModifier);
    QTimer::singleShot(0, [&] {
      EXPECT_TRUE(dialog_->Visible());
      dialog_->Cancel->Click();
    });
  });
  EXPECT_EQ(result, mrCancel);
}

TEST_F(ModalTest, SpaceClicksTheFocusedButton) {
  TModalResult result = RunDialog([&] {
    dialog_->Cancel->SetFocus();
    QTest::keyClick(dialog_->Cancel->Widget(), Qt::Key_Space);
  });
  EXPECT_EQ(result, mrCancel);
}

class ModalCallThread : public TThread {
 public:
  explicit ModalCallThread(std::atomic<int>* calls) : TThread(false), calls_(calls) {}

 protected:
  void ThreadBody() override {
    for (int i = 0; i < 3; ++i) RunOnMainThread([this] { calls_->fetch_add(1); });
  }

 private:
  std::atomic<int>* calls_;
};

TEST_F(ModalTest, WorkerCallsRunWhileTheDialogIsModal) {
  std::atomic<int> calls{0};
  ModalCallThread* worker = nullptr;
  bool served = false;
  TModalResult result = RunDialog([&] {
    worker = NewThread<ModalCallThread>(&calls);
    served = WaitFor([&] { return calls.load() == 3; });
    dialog_->Ok->Click();
  });
  EXPECT_TRUE(served);
  EXPECT_EQ(result, mrOk);
  ASSERT_NE(worker, nullptr);
  worker->WaitUntilDone();
  delete worker;
}

TEST_F(ModalTest, ReshownDialogKeepsItsLastPlace) {
  RunDialog([this] {
    dialog_->Widget()->move(40, 50);
    QTimer::singleShot(0, [this] { dialog_->Ok->Click(); });
  });
  QPoint place = dialog_->Widget()->pos();
  RunDialog([&] {
    EXPECT_EQ(dialog_->Widget()->pos(), place);
    dialog_->Ok->Click();
  });
}

}  // namespace
