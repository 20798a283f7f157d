// Runs a piece of code when the scope that holds the guard ends, however it
// ends: by return or by an exception. The one way the framework undoes a
// temporary change (a flag set for the length of a call, the state that a
// modal loop changed) so that an exception cannot leave it behind.
//
// Not thread-safe; a guard belongs to the scope that made it.
#pragma once

#include <utility>

template <typename Undo>
class ScopeGuard {
 public:
  explicit ScopeGuard(Undo undo) : undo_(std::move(undo)) {}
  ~ScopeGuard() {
    if (armed_) undo_();
  }
  ScopeGuard(const ScopeGuard&) = delete;
  ScopeGuard& operator=(const ScopeGuard&) = delete;

  // Runs the undo now instead of at the end of the scope.
  void RunNow() {
    if (!armed_) return;
    armed_ = false;
    undo_();
  }

 private:
  Undo undo_;
  bool armed_ = true;
};

// Sets flag to value for the rest of the scope and restores its old value.
template <typename T>
auto ScopedValue(T& variable, T value) {
  T previous = std::exchange(variable, std::move(value));
  return ScopeGuard([&variable, previous] { variable = previous; });
}
