#include "server/auth/login_throttle.h"

#include <algorithm>

namespace apura::server {

namespace {

// Counts kept before the stale ones are swept: codes and addresses a stranger
// makes up must not grow the map without end.
constexpr size_t kSweepAbove = 10000;

long long SecondsUntil(LoginThrottle::Clock::time_point then,
                       LoginThrottle::Clock::time_point now) {
  const auto left = std::chrono::ceil<std::chrono::seconds>(then - now).count();
  return std::max<long long>(left, 1);
}

}  // namespace

LoginThrottle::Clock::duration LoginThrottle::DelayAfter(int failures, int free) const {
  if (failures <= free) return Clock::duration::zero();
  const int doublings = std::min(failures - free - 1, 30);
  const auto delay = policy_.firstDelay * (1LL << doublings);
  return std::min<Clock::duration>(delay, policy_.maxDelay);
}

std::string LoginThrottle::Refusal(const std::string& code, const std::string& address,
                                   Clock::time_point now) {
  std::lock_guard lock(mutex_);
  auto op = operators_.find(code);
  if (op != operators_.end() && now < op->second.notBefore) {
    const long long s = SecondsUntil(op->second.notBefore, now);
    if (op->second.locked)
      return "Operador bloqueado por excesso de tentativas de login; tente de novo em " +
             std::to_string((s + 59) / 60) + " min.";
    return "Muitas tentativas de login sem sucesso; tente de novo em " + std::to_string(s) + " s.";
  }
  if (!address.empty()) {
    auto at = addresses_.find(address);
    if (at != addresses_.end() && now < at->second.notBefore)
      return "Muitas tentativas de login sem sucesso deste endereço; tente de novo em " +
             std::to_string(SecondsUntil(at->second.notBefore, now)) + " s.";
  }
  return {};
}

bool LoginThrottle::Failed(const std::string& code, const std::string& address,
                           Clock::time_point now) {
  std::lock_guard lock(mutex_);
  if (operators_.size() + addresses_.size() > kSweepAbove) Forget(now);
  Count& op = operators_[code];
  ++op.failures;
  // Once the lock runs out, the count starts again, a few free.
  op.locked = op.failures >= policy_.lockAfter;
  if (op.locked) {
    op.failures = 0;
    op.notBefore = now + std::chrono::duration_cast<Clock::duration>(policy_.lockFor);
  } else {
    op.notBefore = now + DelayAfter(op.failures, policy_.freeFailures);
  }
  if (!address.empty()) {
    Count& at = addresses_[address];
    ++at.failures;
    at.notBefore = now + DelayAfter(at.failures, policy_.freeFailuresPerAddress);
  }
  return op.locked;
}

void LoginThrottle::Succeeded(const std::string& code, const std::string& address) {
  std::lock_guard lock(mutex_);
  operators_.erase(code);
  if (!address.empty()) addresses_.erase(address);
}

void LoginThrottle::Forget(Clock::time_point now) {
  // A count whose wait is over and that has not failed for the longest a wait
  // or lock lasts is as good as none.
  const auto stale = now - std::chrono::duration_cast<Clock::duration>(
                               std::max(policy_.lockFor, policy_.maxDelay));
  for (auto* counts : {&operators_, &addresses_})
    std::erase_if(*counts, [&](const auto& entry) { return entry.second.notBefore < stale; });
}

}  // namespace apura::server
