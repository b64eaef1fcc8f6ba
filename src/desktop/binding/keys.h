#pragma once
// Between Qt's key events and the virtual key codes and shift states the
// screens' key handlers speak.

#include <QKeyEvent>

#include "framework/controls.h"

namespace apura::desktop {

// 0 when the key has no virtual code the screens know.
int VirtualKey(const QKeyEvent& event);
TShiftState ShiftState(Qt::KeyboardModifiers modifiers);
// The Qt key and the text a virtual key types; the key is 0 when unknown.
struct QtKey {
  int key = 0;
  QString text;
};
QtKey QtKeyFor(int virtualKey, Qt::KeyboardModifiers modifiers);

}  // namespace apura::desktop
