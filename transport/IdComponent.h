// The root of every transport component, and the keeper of SharedStack.
//
// The process-wide SharedStack exists exactly while at least one TIdComponent
// exists: the first component to be constructed makes it, the last one to be
// destroyed frees it, and a component made after that makes a new one. A
// component whose stack cannot be made is not constructed and is not counted.
//
// A component also carries a status event and progress counters for two
// directions; the UDP endpoints neither raise the event nor call the progress
// operations.
//
// Thread-safety: StackLock guards LiveComponentCount together with making and
// freeing SharedStack, and is held only for that; components may be made and
// destroyed on any thread. Everything else belongs to the thread that uses the
// component (in this system, the main thread).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "framework/core/SyncObjs.h"
#include "transport/IdBaseComponent.h"

enum TIdStatus : std::uint8_t {
  hsResolving,
  hsConnecting,
  hsConnected,
  hsDisconnecting,
  hsDisconnected,
  hsStatusText,
  ftpTransfer,
  ftpReady,
  ftpAborted
};

using TIdStatusEvent =
    std::function<void(TObject* sender, TIdStatus status, const std::string& status_text)>;
using TIdProgressEvent =
    std::function<void(TObject* sender, std::uint8_t direction, std::int32_t position)>;
using TIdProgressBeginEvent =
    std::function<void(TObject* sender, std::uint8_t direction, std::int32_t size)>;
using TIdProgressEndEvent = std::function<void(TObject* sender, std::uint8_t direction)>;

// The progress of one direction.
struct TIdProgressRecord {
  std::int32_t position = 0;
  std::int32_t size = 0;
  std::int32_t depth = 0;  // how many BeginProgress calls are not yet ended
};

class TIdComponent : public TIdBaseComponent {
 public:
  // Makes SharedStack when this is the only live transport component. A
  // failure to make it propagates and leaves LiveComponentCount as it was.
  explicit TIdComponent(TComponent* owner);
  // Frees SharedStack when this was the last live transport component.
  ~TIdComponent() override;

  // Nested progress for direction 0 or 1 (another direction raises
  // EInvalidOperation): only the outermost Begin and End raise their events.
  virtual void BeginProgress(std::uint8_t direction, std::int32_t size);
  // Counts only inside a BeginProgress ... EndProgress.
  virtual void AddProgress(std::uint8_t direction, std::int32_t count);
  virtual void EndProgress(std::uint8_t direction);

  const TIdProgressRecord& Progress(std::uint8_t direction) const;

  // Published; no operation of the UDP endpoints raises it.
  const TIdStatusEvent& OnStatus() const { return on_status_; }
  void SetOnStatus(TIdStatusEvent handler) { on_status_ = std::move(handler); }
  const TIdProgressEvent& OnProgress() const { return on_progress_; }
  void SetOnProgress(TIdProgressEvent handler) { on_progress_ = std::move(handler); }
  const TIdProgressBeginEvent& OnProgressBegin() const { return on_progress_begin_; }
  void SetOnProgressBegin(TIdProgressBeginEvent handler) {
    on_progress_begin_ = std::move(handler);
  }
  const TIdProgressEndEvent& OnProgressEnd() const { return on_progress_end_; }
  void SetOnProgressEnd(TIdProgressEndEvent handler) { on_progress_end_ = std::move(handler); }

 private:
  TIdProgressRecord& ProgressOf(std::uint8_t direction);

  TIdStatusEvent on_status_;
  TIdProgressEvent on_progress_;
  TIdProgressBeginEvent on_progress_begin_;
  TIdProgressEndEvent on_progress_end_;
  std::array<TIdProgressRecord, 2> progress_;
};

// Made when the program starts and kept until it ends.
TCriticalSection& StackLock();
// The number of live TIdComponent objects; read under StackLock.
std::int32_t LiveComponentCount();
