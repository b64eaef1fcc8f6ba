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

// An application-server object: answers calls of its methods by name with the
// result envelope (ResultOk / ResultFailure).
class IServerObject {
 public:
  virtual ~IServerObject() = default;
  virtual Value Invoke(const std::string& method, const std::vector<CallArg>& args) = 0;
};

// A server object made of named methods. A method returns its payload; an
// exception it throws becomes the failure text. Method names match without regard
// to case, as late-bound calls do.
class MethodTable : public IServerObject {
 public:
  using Method = std::function<Value(const std::vector<CallArg>&)>;
  explicit MethodTable(std::string objectName) : objectName_(std::move(objectName)) {}

  void Add(const std::string& name, Method method);
  Value Invoke(const std::string& method, const std::vector<CallArg>& args) override;
  const std::string& objectName() const { return objectName_; }

 private:
  std::string objectName_;
  std::map<std::string, std::pair<std::string, Method>> methods_;  // folded name
};

class ServerRegistry {
 public:
  void Register(const std::string& objectName, std::shared_ptr<IServerObject> object);
  // Always answers an envelope: unknown objects, exceptions and malformed
  // answers of a server object become failures naming what went wrong.
  Value Dispatch(const std::string& objectName, const std::string& method,
                 const std::vector<CallArg>& args) const;

 private:
  mutable std::mutex mutex_;
  std::map<std::string, std::shared_ptr<IServerObject>> objects_;  // folded name
};

// True when `v` has the shape of a result envelope.
bool IsEnvelope(const Value& v);

}  // namespace apura::rpc
