#pragma once
// What travels between the worksheet and an application server object: late-bound
// calls by object and method name, and the result envelope every method answers.

#include <stdexcept>
#include <string>
#include <vector>

#include "framework/value.h"

namespace apura {

// One argument of a server call. A by-reference argument is marked as such on the
// wire; the worksheet never reads a value back from one.
struct CallArg {
  Value value;
  bool byRef = false;
};
inline CallArg ByVal(Value v) {
  return {std::move(v), false};
}
inline CallArg ByRef(Value v) {
  return {std::move(v), true};
}

// Why a call failed, for the caller to act on without reading the text: log in
// again, correct what it sent, try again later. Values travel on the wire.
enum class ErrorCode : int {
  Ok = 0,
  Unauthenticated = 1,  // no session, or one that expired or ended
  Forbidden = 2,        // the session may not act on what the call names
  InvalidArgument = 3,  // the call's arguments, or the data they carry
  Conflict = 4,         // the stored state does not allow it (now, or again)
  Busy = 5,             // the server or its database could not take it in time
  NotFound = 6,         // what the call names does not exist
  Internal = 7,         // anything else; the text says what
};
inline constexpr ErrorCode kLastErrorCode = ErrorCode::Internal;
// "unauthenticated", "forbidden", ... for logs and tools.
const char* ErrorCodeName(ErrorCode code);

// A NUL (which would end the text for most readers, what() among them)
// becomes "\\0".
std::string EscapeNul(std::string text);

// A failure that knows its code. Servers throw it; whatever else is thrown is
// reported as Internal.
class CodedError : public std::runtime_error {
 public:
  CodedError(ErrorCode code, const std::string& text) : std::runtime_error(text), code_(code) {}
  ErrorCode code() const { return code_; }

 private:
  ErrorCode code_;
};

// The result envelope: every server method answers either a payload (a data
// packet, an array of values, or null) or the failure text the server reports
// with its code. On the client it is [true, payload] or [false, text, code].
inline Value ResultOk(Value payload) {
  return Value(ValueArray{Value(true), std::move(payload)});
}
inline Value ResultFailure(std::string text, ErrorCode code = ErrorCode::Internal) {
  return Value(ValueArray{Value(false), Value(std::move(text)), Value(static_cast<int64_t>(code))});
}
// The code of an envelope: Ok for a success; Internal for a failure without a
// known code (an older peer's, or a malformed one).
ErrorCode FailureCode(const Value& envelope);

// A socket-like connection to one application server. Implementations: the gRPC
// client (src/rpc), in-process dispatch and test fakes.
class ITransport {
 public:
  virtual ~ITransport() = default;
  // Opens the connection; throws std::runtime_error naming host:port when the
  // server cannot be reached.
  virtual void Connect(const std::string& host, int port) = 0;
  virtual void Disconnect() = 0;
  virtual bool IsConnected() const = 0;
  // Calls `method` of `serverObject`; answers the result envelope. A transport
  // failure (deadline, lost connection) throws std::runtime_error saying which
  // method and address.
  virtual Value Invoke(const std::string& serverObject, const std::string& method,
                       const std::vector<CallArg>& args) = 0;
};

}  // namespace apura
