#pragma once
// How fast a login may be tried again after it failed. Each operator code and
// each client address counts its failures in a row: a few are free (typing
// errors), then every further one makes the next try wait twice as long as the
// last, up to a bound; an operator code with too many failures in a row is
// locked for a while. A try that comes too early is refused without looking at
// the password, and a login that succeeds clears its operator's and address's
// count. The counts live in this server's memory, per server.

#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>

namespace apura::server {

struct LoginPolicy {
  int freeFailures = 3;                   // per operator code before any wait
  int freeFailuresPerAddress = 10;        // an office behind one address types wrong too
  std::chrono::seconds firstDelay{1};     // after the first failure beyond the free ones
  std::chrono::seconds maxDelay{60};      // the wait stops doubling here
  int lockAfter = 10;                     // failures in a row that lock an operator code
  std::chrono::seconds lockFor{15 * 60};  // how long the lock lasts
};

class LoginThrottle {
 public:
  using Clock = std::chrono::system_clock;
  explicit LoginThrottle(LoginPolicy policy = {}) : policy_(policy) {}

  // Why a login of `code` from `address` may not be tried at `now` ("" when it
  // may); an empty address is not counted (a call from inside the process).
  std::string Refusal(const std::string& code, const std::string& address, Clock::time_point now);
  // The outcome of a try that was let through. Answers true when this failure
  // locked the operator code.
  bool Failed(const std::string& code, const std::string& address, Clock::time_point now);
  void Succeeded(const std::string& code, const std::string& address);

 private:
  struct Count {
    int failures = 0;
    Clock::time_point notBefore;
    bool locked = false;
  };
  Clock::duration DelayAfter(int failures, int free) const;
  void Forget(Clock::time_point now);

  LoginPolicy policy_;
  std::mutex mutex_;
  std::map<std::string, Count> operators_, addresses_;
};

}  // namespace apura::server
