#include "desktop/events.h"

#include <QTimer>

#include "framework/forms.h"
#include "framework/host.h"

namespace apura::desktop {

bool RunEvent(const std::function<void()>& event) {
  const bool ok = GuardedCall(event);
  // Released forms go once the event has unwound, never under its handlers.
  QTimer::singleShot(0, [] { Application().ProcessReleases(); });
  return ok;
}

}  // namespace apura::desktop
