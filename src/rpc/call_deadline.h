#pragma once
// The deadline of the call the current thread serves. The gRPC server sets it from
// the client's deadline; storages bound their waits for locks by it, so a queued
// write gives up when the caller has stopped waiting instead of after a fixed time.

#include <chrono>
#include <optional>

namespace apura::rpc {

using DeadlineClock = std::chrono::steady_clock;

// None when the caller gave no deadline (in-process calls, tools).
std::optional<DeadlineClock::time_point> CallDeadline();

// Sets the deadline for the current thread while in scope.
class CallDeadlineScope {
 public:
  explicit CallDeadlineScope(std::optional<DeadlineClock::time_point> deadline);
  ~CallDeadlineScope();
  CallDeadlineScope(const CallDeadlineScope&) = delete;
  CallDeadlineScope& operator=(const CallDeadlineScope&) = delete;

 private:
  std::optional<DeadlineClock::time_point> previous_;
};

}  // namespace apura::rpc
