// Windows: thread identifiers are the system's.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "framework/core/Threads.h"

const int kDeadlockErrorCode = ERROR_POSSIBLE_DEADLOCK;

std::uint32_t CurrentThreadID() {
  return GetCurrentThreadId();
}
