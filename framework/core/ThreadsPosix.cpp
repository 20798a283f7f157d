// Linux: thread identifiers are the kernel's thread ids.
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

#include "framework/core/Threads.h"

const int kDeadlockErrorCode = EDEADLK;

// Asked of the kernel once per thread: every hand-over asks twice, and a system
// call is dear next to the rest of it.
std::uint32_t CurrentThreadID() {
  thread_local const std::uint32_t id = static_cast<std::uint32_t>(::syscall(SYS_gettid));
  return id;
}

void WaitServingTheMainThread(TEvent& ended) {
  for (;;) {
    int which = TEvent::WaitForEither(ended, SyncEvent(), 1000);
    if (which == 0) return;
    if (which == 1) CheckSynchronize(0);
  }
}
