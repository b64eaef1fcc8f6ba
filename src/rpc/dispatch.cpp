#include "rpc/dispatch.h"

#include <cctype>
#include <exception>

namespace apura::rpc {

namespace {
std::string Fold(const std::string& s) {
  std::string out = s;
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}
}  // namespace

bool IsEnvelope(const Value& v) {
  if (v.kind() != Value::Kind::Array) return false;
  const ValueArray& a = v.AsArray();
  if (a.size() != 2 || a[0].kind() != Value::Kind::Boolean) return false;
  return a[0].AsBoolean() || a[1].kind() == Value::Kind::Text;
}

void MethodTable::Add(const std::string& name, Method method) {
  methods_[Fold(name)] = {name, std::move(method)};
}

Value MethodTable::Invoke(const std::string& method, const std::vector<CallArg>& args) {
  auto it = methods_.find(Fold(method));
  if (it == methods_.end()) {
    return ResultFailure("server object \"" + objectName_ + "\" has no method \"" + method + "\"");
  }
  try {
    return ResultOk(it->second.second(args));
  } catch (const std::exception& e) {
    return ResultFailure(e.what());
  }
}

void ServerRegistry::Register(const std::string& objectName,
                              std::shared_ptr<IServerObject> object) {
  std::lock_guard lock(mutex_);
  objects_[Fold(objectName)] = std::move(object);
}

Value ServerRegistry::Dispatch(const std::string& objectName, const std::string& method,
                               const std::vector<CallArg>& args) const {
  std::shared_ptr<IServerObject> object;
  {
    std::lock_guard lock(mutex_);
    auto it = objects_.find(Fold(objectName));
    if (it != objects_.end()) object = it->second;
  }
  if (!object) return ResultFailure("unknown server object \"" + objectName + "\"");
  try {
    Value result = object->Invoke(method, args);
    if (!IsEnvelope(result)) {
      return ResultFailure("server object \"" + objectName + "\" answered " + method +
                           " with a malformed result");
    }
    return result;
  } catch (const std::exception& e) {
    return ResultFailure(objectName + "." + method + ": " + e.what());
  }
}

}  // namespace apura::rpc
