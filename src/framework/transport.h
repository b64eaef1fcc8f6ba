#pragma once
// What travels between the worksheet and an application server object: late-bound
// calls by object and method name, and the result envelope every method answers.

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
inline CallArg ByVal(Value v) { return {std::move(v), false}; }
inline CallArg ByRef(Value v) { return {std::move(v), true}; }

// The result envelope: every server method answers either a payload (a data
// packet, an array of values, or null) or the failure text the server reports.
// On the client it is a two-element array [true, payload] or [false, text].
inline Value ResultOk(Value payload) { return Value(ValueArray{Value(true), std::move(payload)}); }
inline Value ResultFailure(std::string text) {
  return Value(ValueArray{Value(false), Value(std::move(text))});
}

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
