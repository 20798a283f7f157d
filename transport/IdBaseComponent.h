// The root of the transport's component classes.
//
// A transport component is a framework component: owned by a window, its
// published properties read from the window's resource, destroyed with its
// owner. TIdBaseComponent adds nothing of its own; it marks where the
// transport's classes join the framework's.
//
// Thread-safety: as TComponent; components are made, used and destroyed on the
// main thread.
#pragma once

#include "framework/core/Classes.h"

class TIdBaseComponent : public TComponent {
 public:
  explicit TIdBaseComponent(TComponent* owner);
};
