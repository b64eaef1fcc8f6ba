#pragma once
// The exception kinds the host treats specially.

#include <exception>
#include <stdexcept>
#include <string>

namespace apura {

// The silent abort: ends the operation under way; the host's error display never
// shows it.
class EAbort : public std::exception {
 public:
  const char* what() const noexcept override { return "Operation aborted"; }
};
[[noreturn]] inline void Abort() { throw EAbort(); }

// Errors of the table facility and the local query component.
class EDatabaseError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace apura
