#include "transport/IdComponent.h"

#include <memory>
#include <mutex>

#include "framework/core/SysUtils.h"
#include "transport/IdStack.h"

namespace {

std::int32_t g_live_component_count = 0;  // guarded by StackLock()

// Made while the program's static objects are made, so that the lock exists
// before any component can.
TCriticalSection& g_stack_lock_at_start = StackLock();

}  // namespace

TCriticalSection& StackLock() {
  // Never destroyed: a component freed by another static object's destructor
  // at program end still finds it.
  static TCriticalSection* const lock = new TCriticalSection;
  return *lock;
}

std::int32_t LiveComponentCount() {
  std::lock_guard<TCriticalSection> guard(StackLock());
  return g_live_component_count;
}

TIdComponent::TIdComponent(TComponent* owner) : TIdBaseComponent(owner) {
  std::lock_guard<TCriticalSection> guard(StackLock());
  if (g_live_component_count == 0) {
    // Made before counting: a stack that cannot be made leaves the count alone.
    SharedStack = TIdStack::NewStack().release();
  }
  ++g_live_component_count;
}

TIdComponent::~TIdComponent() {
  // Owned components first, as the framework's destruction does, so that the
  // count falls to 0 only with the last of them.
  DestroyComponents();
  std::lock_guard<TCriticalSection> guard(StackLock());
  if (--g_live_component_count == 0) {
    TIdStack* stack = SharedStack;
    SharedStack = nullptr;
    delete stack;
  }
}

TIdProgressRecord& TIdComponent::ProgressOf(std::uint8_t direction) {
  if (direction >= progress_.size()) {
    throw EInvalidOperation(Format("Invalid progress direction %d", direction));
  }
  return progress_[direction];
}

const TIdProgressRecord& TIdComponent::Progress(std::uint8_t direction) const {
  return const_cast<TIdComponent*>(this)->ProgressOf(direction);
}

void TIdComponent::BeginProgress(std::uint8_t direction, std::int32_t size) {
  TIdProgressRecord& record = ProgressOf(direction);
  if (++record.depth == 1) {
    record.size = size;
    record.position = 0;
    if (on_progress_begin_) on_progress_begin_(this, direction, size);
  }
}

void TIdComponent::AddProgress(std::uint8_t direction, std::int32_t count) {
  TIdProgressRecord& record = ProgressOf(direction);
  if (record.depth > 0) {
    // Wraps like the 32-bit counter it is, rather than overflowing.
    record.position = static_cast<std::int32_t>(static_cast<std::uint32_t>(record.position) +
                                                static_cast<std::uint32_t>(count));
    if (on_progress_) on_progress_(this, direction, record.position);
  }
}

void TIdComponent::EndProgress(std::uint8_t direction) {
  TIdProgressRecord& record = ProgressOf(direction);
  if (record.depth == 1 && on_progress_end_) on_progress_end_(this, direction);
  --record.depth;
}
