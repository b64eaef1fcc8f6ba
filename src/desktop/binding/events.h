#pragma once
// How the desktop runs a user event in the form model: the silent abort ends
// it quietly, other errors reach the standard error display, and forms
// released by the event are deleted once it is over.

#include <functional>

namespace apura::desktop {

// Answers whether the event ran to its end.
bool RunEvent(const std::function<void()>& event);
// Whether a user event is under way.
bool InEvent();

// Counts as an event for its lifetime: a modal loop run outside any event
// must not see forms deleted under it either.
class EventScope {
 public:
  EventScope();
  ~EventScope();
  EventScope(const EventScope&) = delete;
  EventScope& operator=(const EventScope&) = delete;
};

}  // namespace apura::desktop
