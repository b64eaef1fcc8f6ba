#pragma once
// Server objects and the registry that finds them by name. No gRPC here: the gRPC
// server and the in-process transport both dispatch through a registry.

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "framework/transport.h"

namespace apura::rpc {

// What a call brings besides its arguments: the session token from the call's
// metadata (empty when none came) and where it came from.
struct CallContext {
  std::string sessionToken;
  // The caller's network address without its port ("127.0.0.1", "::1"); empty
  // for a caller inside the process.
  std::string peer;
};

// One call as the server served it, for its metrics: the names as the
// registry knows them (empty when the caller named no such object or method,
// so a stranger's made-up names never become a label), how it ended, and the
// server's own time from the request's bytes to the reply's, sending aside.
struct ServedCall {
  std::string object, method;
  ErrorCode code = ErrorCode::Ok;
  double seconds = 0;
};
using CallObserver = std::function<void(const ServedCall&)>;

// The metadata key that carries the session token.
inline constexpr const char* kSessionMetadataKey = "apura-session";
// A request of at most kMaxMetadataRequestBytes travels whole in this metadata
// entry and the call's body is empty: the server then reads no body at all, so
// a caller without a session (a login) never makes it take in more than that.
// A larger request comes in the body, and only in a live session.
inline constexpr const char* kRequestMetadataKey = "apura-request-bin";
inline constexpr size_t kMaxMetadataRequestBytes = 4 * 1024;

// Limits on what a caller may send and on what comes back in a failure. A text
// argument longer than kMaxTextArgumentBytes (packets have their own limits) is
// refused before any method runs; a failure text is cut to kMaxFailureTextBytes
// so that nothing a caller sent comes back whole.
inline constexpr size_t kMaxTextArgumentBytes = 64 * 1024;
inline constexpr size_t kMaxFailureTextBytes = 2000;

// A failure text fit to show: a NUL (which would end the text for most
// readers) becomes "\0", and a text over kMaxFailureTextBytes is cut at a
// character boundary, saying how much was left out.
std::string BoundedFailureText(std::string text);
// Only the NUL part of the above.
using apura::EscapeNul;

// An application-server object: answers calls of its methods by name with the
// result envelope (ResultOk / ResultFailure).
class IServerObject {
 public:
  virtual ~IServerObject() = default;
  virtual Value Invoke(const std::string& method, const std::vector<CallArg>& args) = 0;
  // Objects that check who calls override this one.
  virtual Value Invoke(const std::string& method, const std::vector<CallArg>& args,
                       const CallContext&) {
    return Invoke(method, args);
  }
  // The method's name as declared, or empty when the object has none such.
  virtual std::string MethodName(const std::string& method) const {
    (void)method;
    return {};
  }
};

// A server object made of named methods. A method returns its payload; an
// exception it throws becomes the failure text. Method names match without regard
// to case, as late-bound calls do.
class MethodTable : public IServerObject {
 public:
  using Method = std::function<Value(const std::vector<CallArg>&)>;
  using ContextMethod = std::function<Value(const std::vector<CallArg>&, const CallContext&)>;
  explicit MethodTable(std::string objectName) : objectName_(std::move(objectName)) {}

  void Add(const std::string& name, Method method);
  void Add(const std::string& name, ContextMethod method);
  Value Invoke(const std::string& method, const std::vector<CallArg>& args) override;
  Value Invoke(const std::string& method, const std::vector<CallArg>& args,
               const CallContext& context) override;
  const std::string& objectName() const { return objectName_; }
  std::string MethodName(const std::string& method) const override;

 private:
  std::string objectName_;
  std::map<std::string, std::pair<std::string, ContextMethod>> methods_;  // folded name
};

class ServerRegistry {
 public:
  void Register(const std::string& objectName, std::shared_ptr<IServerObject> object);
  // Always answers an envelope: unknown objects, exceptions and malformed
  // answers of a server object become failures naming what went wrong.
  // Failure texts come back bounded (BoundedFailureText).
  Value Dispatch(const std::string& objectName, const std::string& method,
                 const std::vector<CallArg>& args, const CallContext& context = {}) const;
  // The object's and method's names as registered and declared; empty parts
  // for names the registry does not know.
  std::pair<std::string, std::string> Names(const std::string& objectName,
                                            const std::string& method) const;

 private:
  Value Call(const std::string& objectName, const std::string& method,
             const std::vector<CallArg>& args, const CallContext& context) const;
  mutable std::mutex mutex_;
  std::map<std::string, std::pair<std::string, std::shared_ptr<IServerObject>>>
      objects_;  // folded name -> name as registered, object
};

// True when `v` has the shape of a result envelope.
bool IsEnvelope(const Value& v);

}  // namespace apura::rpc
