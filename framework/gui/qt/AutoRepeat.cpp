// A held key, as the program's key handlers expect it: repeated key presses
// and one key release when the key is let go.
//
// An X server sends every auto-repeat as a release followed by a press, and Qt
// marks such a release as a repeat only when the press has already reached
// its queue; on a busy machine it often has not, and a handler would see a key
// let go while it is still held (a full address field would hand the focus on
// in the middle of a held key). XKB's detectable auto-repeat makes the server
// send the repeated presses alone, so every release that arrives is real.
// Other platforms (Wayland, offscreen) repeat in the client and mark the
// repeats themselves.
//
// Main thread only. Kept apart from the other framework sources because the X
// headers define macros (KeyPress, None, Bool) that clash with Qt's names.
#include <QGuiApplication>

#include "framework/gui/qt/QtPort_p.h"

// After every Qt header.
// clang-format off
#include <X11/XKBlib.h>
// clang-format on

void qtport::UseDetectableAutoRepeat() {
  auto* x11 =
      qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  if (x11 == nullptr || x11->display() == nullptr) return;
  // A server without the feature keeps the pairs; Qt's own marking is then
  // all there is.
  Bool supported = False;
  XkbSetDetectableAutoRepeat(x11->display(), True, &supported);
}
