#pragma once
// How long a write may wait for its turn, and what the caller hears when the turn
// did not come in time. Writers queue in arrival order; the wait ends at the
// caller's deadline, or after kDefaultWriteWait when the call carries none.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <string>

#include "framework/transport.h"

namespace apura::server {

inline constexpr std::chrono::seconds kDefaultWriteWait{30};

// A write that could not start before the caller's deadline; nothing was written.
class StorageBusy : public CodedError {
 public:
  StorageBusy()
      : CodedError(
            ErrorCode::Busy,
            "Tempo esgotado: outra gravação ocupava o banco de dados até o prazo da chamada. "
            "Nada foi gravado; tente de novo.") {}
};

// Waits of writers for their turn in this process, for the server's metrics:
// SQLite's queue of writers, PostgreSQL's tally row lock.
struct WriterWaitTotals {
  std::atomic<uint64_t> waits{0};    // writers that got their turn
  std::atomic<uint64_t> refused{0};  // writers whose deadline came first
  std::atomic<double> seconds{0};    // time spent waiting, both kinds
  void Add(std::chrono::steady_clock::duration waited, bool gotTurn) {
    (gotTurn ? waits : refused) += 1;
    seconds += std::chrono::duration<double>(waited).count();
  }
};
WriterWaitTotals& WriterWaits();

// When a wait that starts now must end.
std::chrono::steady_clock::time_point WaitLimit();

// Writers of one process take turns in arrival order; a writer whose limit passes
// leaves the queue without its turn.
class WriterQueue {
 public:
  // Throws StorageBusy when the turn does not come before `limit`.
  void Enter(std::chrono::steady_clock::time_point limit);
  void Leave();

 private:
  std::mutex mutex_;
  std::condition_variable turn_;
  std::deque<uint64_t> waiting_;
  uint64_t next_ = 0;
  bool busy_ = false;
};

}  // namespace apura::server
