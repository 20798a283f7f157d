// The application object: the message loop, the error display and the
// program's frame (ProgramMain).
//
// There is one TApplication per process (the global Application). It owns
// every form made with MakeForm; the first one becomes the MainWindow, whose
// closing ends RunMessageLoop. PumpOneMessage handles what the toolkit has
// waiting, or runs the idle step: the calls that workers handed to the main
// thread, then a wait for the next event. A worker wakes that wait through
// PostWakeUp, installed as the main-thread wake hook; the wake-up is posted
// through the port, so handed-over calls also run inside modal dialogs,
// message boxes and the font dialog.
//
// Every exception that escapes a handler reaches ReportError: an EAbort is
// dropped, another Exception is shown by ShowErrorBox with its message under
// AppTitle, anything else gets the "Application Error" box. The program goes
// on in every case.
//
// Main thread only, except PostWakeUp, which any thread may call.
#pragma once

#include <atomic>
#include <exception>
#include <functional>
#include <new>
#include <string>

#include "framework/core/Threads.h"
#include "framework/gui/Forms.h"
#include "framework/gui/MessageBox.h"

class TApplication : public TComponent, public TFormHost {
 public:
  // Starts the toolkit (argc and argv must outlive it), sets the global
  // Application and installs the wake-up hook.
  // REQUIRES: no other TApplication exists; called on the main thread.
  TApplication(int& argc, char** argv);
  // Runs Shutdown if ProgramMain has not.
  ~TApplication() override;

  // Runs the registered start-up procedure; none is registered here.
  void InitApp();

  // Creates a form of class T owned by the application. reference points at
  // the form before its constructor runs and is cleared if it raises. The
  // first form becomes the MainWindow.
  template <typename T>
  void MakeForm(T*& reference) {
    void* memory = ::operator new(sizeof(T));
    reference = static_cast<T*>(memory);
    T* form;
    try {
      form = new (memory) T(this);
    } catch (...) {
      reference = nullptr;
      ::operator delete(memory);
      throw;
    }
    FormMade(form);
  }

  // Shows the MainWindow and handles events until QuitRequested; an exception
  // that escapes one step goes to ReportError. Returns at once without one.
  void RunMessageLoop();
  // Handles the events waiting, or, when none waits, runs the handed-over calls
  // and, if there were none, waits for the next event.
  void PumpOneMessage() override;
  // Asks the loops to end; QuitRequested is set when the request is handled.
  void Quit() override;
  bool QuitRequested() const override { return quit_requested_; }

  // REQUIRES: called while error is being handled (inside a catch block), or
  // with the error to show.
  void ReportError(TObject* sender, std::exception_ptr error = std::current_exception()) override;
  void ShowErrorBox(const Exception& error);
  int ShowAppMessageBox(const std::string& text, const std::string& caption, int flags);

  // Wakes the main thread's wait; any thread. Never blocks.
  void PostWakeUp(TThread* sender);

  const std::string& AppTitle() const { return title_; }
  TCustomForm* MainWindow() const override { return main_window_; }

  // The exit step: destroys every form, the last created first.
  void DestroyForms();
  // The program's end, in this order: the forms (the chat window's server
  // stops its listener thread and waits for it), then the wake-up hook, so
  // that no worker can reach the loop any more, then the toolkit. Safe to call
  // twice.
  void Shutdown();
  // The program's part of Shutdown, for an end that leaves the toolkit to the
  // process's exit: the forms, then the hooks.
  void EndProgram();
  // Test support: destroys the forms and forgets the MainWindow and a quit.
  void ResetForTesting();

 private:
  void FormMade(TCustomForm* form);
  void FormDestroyed(TCustomForm* form) override;

  std::string title_;
  TCustomForm* main_window_ = nullptr;
  bool quit_requested_ = false;
  bool shut_down_ = false;
  // Set while a wake-up is on its way: one is enough to have every queued call
  // run, so PostWakeUp posts no other until it has arrived.
  std::atomic<bool> wake_posted_{false};
};

extern TApplication* Application;

// The runtime's frame around a program entry: creates the application object
// (the toolkit is given the program's name, argv[0], and no other argument),
// runs entry, and ends with exit code 0. An exception that leaves entry is
// shown in the "Application Error" box (no owner, task-modal, error icon) and
// the exit code is 1. The program's end (TApplication::Shutdown) runs before
// this returns. Told to end by the platform (a termination signal, the end of
// the desktop session), an open modal dialog ends with mrCancel, an open
// message box or font dialog ends, and the program ends as after a close.
int ProgramMain(int argc, char** argv, const std::function<void()>& entry);
