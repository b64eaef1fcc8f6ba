#include "desktop/binding/events.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

#include "framework/forms.h"
#include "framework/host.h"

namespace apura::desktop {

namespace {
// Events under way, nested ones included (a handler showing a dialog runs
// the dialog's events inside its own).
int g_depth = 0;
}  // namespace

void ScheduleReleases();

bool RunEvent(const std::function<void()>& event) {
  bool ok;
  {
    EventScope scope;
    ok = GuardedCall(event);
  }
  return ok;
}

EventScope::EventScope() {
  ++g_depth;
}

EventScope::~EventScope() {
  // Released forms go once every event has unwound: a form released by a
  // handler that then shows a dialog must outlive that dialog.
  if (--g_depth == 0) ScheduleReleases();
}

void ScheduleReleases() {
  if (QCoreApplication::instance()) {
    // One timer, owned by the application, so none is left over at exit.
    static QPointer<QTimer> timer;
    if (!timer) {
      timer = new QTimer(QCoreApplication::instance());
      timer->setSingleShot(true);
      timer->setInterval(0);
      QObject::connect(timer, &QTimer::timeout, [] {
        if (g_depth != 0) return;
        // The forms' destroy and deactivate handlers run here, straight from
        // the event loop: their errors go to the error display like any
        // event's. Each failure has already taken its form off the list, so
        // the rest go on the next turn.
        ++g_depth;
        const bool ok = GuardedCall([] { Application().ProcessReleases(); });
        --g_depth;
        if (!ok) ScheduleReleases();
      });
    }
    timer->start();
  }
}

bool InEvent() {
  return g_depth > 0;
}

}  // namespace apura::desktop
