#include "server/storage/storage_wait.h"

#include <algorithm>

#include "rpc/call_deadline.h"

namespace apura::server {

std::chrono::steady_clock::time_point WaitLimit() {
  if (auto d = rpc::CallDeadline()) return *d;
  return std::chrono::steady_clock::now() + kDefaultWriteWait;
}

WriterWaitTotals& WriterWaits() {
  static WriterWaitTotals totals;
  return totals;
}

void WriterQueue::Enter(std::chrono::steady_clock::time_point limit) {
  const auto start = std::chrono::steady_clock::now();
  std::unique_lock lock(mutex_);
  uint64_t me = next_++;
  waiting_.push_back(me);
  bool mine = turn_.wait_until(lock, limit, [&] { return !busy_ && waiting_.front() == me; });
  if (!mine) {
    waiting_.erase(std::find(waiting_.begin(), waiting_.end(), me));
    // The next one in line may be free to go now that this one left the front.
    turn_.notify_all();
    WriterWaits().Add(std::chrono::steady_clock::now() - start, false);
    throw StorageBusy();
  }
  WriterWaits().Add(std::chrono::steady_clock::now() - start, true);
  waiting_.pop_front();
  busy_ = true;
}

void WriterQueue::Leave() {
  {
    std::lock_guard lock(mutex_);
    busy_ = false;
  }
  turn_.notify_all();
}

}  // namespace apura::server
