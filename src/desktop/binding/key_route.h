#pragma once
// Keys typed on a form's widgets go through the form's key handlers first
// (key preview, then the control's), as key-down and then as a character.

#include <QKeyEvent>
#include <memory>

#include "framework/forms.h"

namespace apura::desktop {

enum class KeyRoute {
  Pass,      // the widget handles the original event
  Consumed,  // a handler took the key; the widget must not see it
  Replaced,  // the widget handles `replacement` instead
};

KeyRoute RouteKey(TForm& form, const QKeyEvent& event, std::unique_ptr<QKeyEvent>& replacement);

}  // namespace apura::desktop
