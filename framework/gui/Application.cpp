#include "framework/gui/Application.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "framework/core/Ansi.h"
#include "framework/gui/GuiPort.h"

TApplication* Application = nullptr;

namespace {

// How long one wake-up goes on serving handed-over calls while they keep
// coming. A worker that has just had a call run hands over its next one within
// microseconds (the UDP listener's next datagram), so under a flood the main
// thread serves the calls straight from the queue instead of going round the
// whole event loop, with a posted event, an eventfd and two polls, for every
// one; after this long it lets the loop turn (paint, input, timers) and comes
// back. Measured under a flood of 100,000 datagrams a second, 2 ms serves as
// many lines as 5 ms and leaves a third of the long gaps between two turns.
//
// Under Wine a following call comes a few hundred microseconds after the last
// (the listener's receive goes through the Wine server), so 2 ms serve only a
// handful, and every turn of the loop costs the main thread Wine server round
// trips of its own: the peeks at the queue, the wait, the wake-up that the
// next call posts and its dispatch. Traced under a flood, 8 ms there cut the
// loop's requests from about 0.8 a delivered datagram to about 0.2, beside the
// listener's 3; the loop still turns some hundred times a second.
#if defined(_WIN32)
constexpr auto kServeBudget = std::chrono::milliseconds(8);
#else
constexpr auto kServeBudget = std::chrono::milliseconds(2);
#endif
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

}  // namespace

TApplication::TApplication(int& argc, char** argv) : TComponent(nullptr) {
  title_ = TitleFromExePath(Ansi(port::ExecutablePath()));
  port::StartToolkit(argc, argv, title_);
  port::SetLoopHooks(
      [this] {
        // Cleared before the queue is taken: a call queued from here on finds
        // the flag clear and posts the next wake-up itself.
        wake_posted_.store(false);
        ServeHandedOverCalls();
      },
      [this] { quit_requested_ = true; });
  port::SetEntryErrorHook([this](TObject* sender, std::exception_ptr error) {
    ReportError(sender != nullptr ? sender : this, error);
  });
  TCustomForm::SetHost(this);
  Application = this;
  SetMainThreadWakeHook([this](TThread* sender) { PostWakeUp(sender); });
}

TApplication::~TApplication() {
  Shutdown();
}

void TApplication::Shutdown() {
  if (shut_down_) return;
  EndProgram();
  port::StopToolkit();
}

void TApplication::EndProgram() {
  shut_down_ = true;
  port::LeaveWidgetsToProcessEnd();
  DestroyForms();
  SetMainThreadWakeHook(nullptr);
  TCustomForm::SetHost(nullptr);
  if (Application == this) Application = nullptr;
  port::SetLoopHooks(nullptr, nullptr);
  port::SetEntryErrorHook(nullptr);
}

void TApplication::InitApp() {}

void TApplication::FormMade(TCustomForm* form) {
  if (main_window_ == nullptr && dynamic_cast<TForm*>(form) != nullptr) {
    if (form->Widget() != nullptr) port::RealizeWindow(form->Widget());
    main_window_ = form;
  }
}

void TApplication::FormDestroyed(TCustomForm* form) {
  if (main_window_ == form) main_window_ = nullptr;
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
  if (port::ProcessWaitingEvents()) return;
  // The idle step: the calls handed over by workers, else a wait.
  if (CurrentThreadID() == MainThreadID() && ServeHandedOverCalls()) return;
  port::WaitForEvents();
}

void TApplication::Quit() {
  port::PostQuit();
}

void TApplication::PostWakeUp(TThread* /*sender*/) {
  if (wake_posted_.exchange(true)) return;
  port::PostWakeUp();
}

void TApplication::ReportError(TObject* /*sender*/, std::exception_ptr error) {
  if (!error) return;
  try {
    port::ReleaseMouse();
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
  return RunAppMessageBox(text, caption, flags);
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
  // The program reads no argument, and the toolkit gets none either: only the
  // program's name, so that no option on the command line changes a window.
  // What desktops and tests set in the environment (the platform, the scale,
  // the display) still applies.
  static char fallback_name[] = "kvelmar";
  int toolkit_argc = 1;
  char* toolkit_argv[] = {argc > 0 && argv[0] != nullptr ? argv[0] : fallback_name, nullptr};
  TApplication application(toolkit_argc, toolkit_argv);
  // Told to end (a termination signal, the session's end), the loops end and
  // the steps below run as after a close. Where the platform cannot go back to
  // the loops, the program's part of the end runs at once and the process ends
  // with 0; the toolkit, whose display may be gone, is not taken down.
  port::WatchEndRequests([&application] {
    application.EndProgram();
    std::fflush(nullptr);
    std::_Exit(0);
  });
  int exit_code = 0;
  try {
    entry();
  } catch (...) {
    ShowApplicationErrorBox(ApplicationErrorText(std::current_exception()));
    exit_code = 1;
  }
  // The program's end, in one place and one order.
  application.Shutdown();
  return exit_code;
}
