#include "rpc/call_deadline.h"

namespace apura::rpc {

namespace {
thread_local std::optional<DeadlineClock::time_point> tCurrent;
}

std::optional<DeadlineClock::time_point> CallDeadline() {
  return tCurrent;
}

CallDeadlineScope::CallDeadlineScope(std::optional<DeadlineClock::time_point> deadline)
    : previous_(tCurrent) {
  tCurrent = deadline;
}

CallDeadlineScope::~CallDeadlineScope() {
  tCurrent = previous_;
}

}  // namespace apura::rpc
