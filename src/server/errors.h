#pragma once
// What the server's methods throw when they refuse a call: the text the
// worksheet shows, and the code the caller acts on (renew a session, correct
// an argument, try again).

#include <string>

#include "framework/transport.h"

namespace apura::server {

// A NUL in the text (from a caller's argument) is kept as "\\0": what() ends at
// the first NUL, and the rest of the text would be lost. Without a code, a
// refusal is of what the call asked: its arguments or the data they carry.
class ServerError : public CodedError {
 public:
  explicit ServerError(const std::string& text, ErrorCode code = ErrorCode::InvalidArgument)
      : CodedError(code, EscapeNul(text)) {}
  ServerError(ErrorCode code, const std::string& text) : ServerError(text, code) {}
};

}  // namespace apura::server
