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

// A failure of the database itself. Its detail (the statement, the database's
// own message, an address with its password masked) goes to the server's log
// under a fresh id when it is made; what() is only a short reason and that id,
// since SQL and connection details tell a caller about the server's insides.
// `reason` is a generic text the database gives for its error code ("database
// or disk is full"), never one that quotes a statement or an address.
class StorageFailure : public CodedError {
 public:
  explicit StorageFailure(const std::string& detail, const std::string& reason = {},
                          ErrorCode code = ErrorCode::Internal);
  const std::string& id() const { return id_; }
  const std::string& detail() const { return detail_; }

 private:
  StorageFailure(const std::string& id, const std::string& detail, const std::string& reason,
                 ErrorCode code);
  std::string id_, detail_;
};

// One line on the server's standard error, with the time; lines of several
// threads never interleave.
void LogLine(const std::string& line);

// `db` as it may be printed: the password of a postgresql:// address
// (user:password@, ?password=) or of libpq's key=value text (password=...)
// becomes "***". Anything else comes back as it is.
std::string MaskConnectionString(const std::string& db);

}  // namespace apura::server
