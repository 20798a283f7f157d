// Windows: thread identifiers are the system's, and the main thread's wait
// for a thread is a wait of the system's that also wakes for sent messages.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "framework/core/ScopeGuard.h"
#include "framework/core/Threads.h"

const int kDeadlockErrorCode = ERROR_POSSIBLE_DEADLOCK;

std::uint32_t CurrentThreadID() {
  return GetCurrentThreadId();
}

namespace {

// Signalled by the events that the main thread waits on while it waits
// (TEvent::AttachSystemEvent). Auto-reset, one for the process and never
// closed: an event may signal it just after a wait has let go of it, and the
// next wait then only looks at its events once more.
HANDLE MainThreadWaker() {
  static const HANDLE waker = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  return waker;
}

}  // namespace

// A thread that sends a message to a window of the main thread (a broadcast
// of changed settings, an input method, a test) waits until the main thread
// takes it. The events are the framework's own and live in the process, so
// they are joined to one kernel event that the system can wait on together
// with the sent messages.
void WaitServingTheMainThread(TEvent& ended) {
  HANDLE waker = MainThreadWaker();
  if (waker == nullptr) ThrowThreadError(static_cast<int>(GetLastError()));
  TEvent& sync = SyncEvent();
  void* const ended_before = ended.AttachSystemEvent(waker);
  void* const sync_before = sync.AttachSystemEvent(waker);
  ScopeGuard detach([&] {
    sync.AttachSystemEvent(sync_before);
    ended.AttachSystemEvent(ended_before);
  });
  bool look_at_queue = false;
  for (;;) {
    if (look_at_queue) {
      // Looking at the queue is what lets the system deliver the messages
      // sent to this thread; posted ones stay for the message loop.
      MSG message;
      PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
    }
    if (ended.IsSet()) return;
    // After a pass that ran calls, the queue gets its look too, so that a
    // stream of calls, which keeps the waker signalled, cannot hold back
    // sent messages.
    look_at_queue = sync.IsSet() && CheckSynchronize(0);
    if (look_at_queue) continue;
    const DWORD result = MsgWaitForMultipleObjects(1, &waker, FALSE, 1000, QS_SENDMESSAGE);
    if (result == WAIT_FAILED) ThrowThreadError(static_cast<int>(GetLastError()));
    look_at_queue = result == WAIT_OBJECT_0 + 1;
  }
}
