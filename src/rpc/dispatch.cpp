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
  if (a.size() < 2 || a[0].kind() != Value::Kind::Boolean) return false;
  if (a[0].AsBoolean()) return a.size() == 2;
  return a[1].kind() == Value::Kind::Text &&
         (a.size() == 2 || (a.size() == 3 && a[2].kind() == Value::Kind::Integer));
}

std::string BoundedFailureText(std::string text) {
  text = EscapeNul(std::move(text));
  if (text.size() <= kMaxFailureTextBytes) return text;
  size_t cut = kMaxFailureTextBytes;
  // Back off continuation bytes so a character is never split.
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  const size_t left = text.size() - cut;
  text.resize(cut);
  return text + "… (" + std::to_string(left) + " bytes a mais omitidos)";
}

namespace {

// The first text argument (nested arrays included) over the limit, as "argument
// N has M bytes".
std::string OversizedText(const Value& v) {
  if (v.kind() == Value::Kind::Text) {
    const size_t n = v.ToText().size();
    if (n > kMaxTextArgumentBytes) return std::to_string(n);
  } else if (v.kind() == Value::Kind::Array) {
    for (const Value& item : v.AsArray()) {
      std::string found = OversizedText(item);
      if (!found.empty()) return found;
    }
  }
  return {};
}

}  // namespace

void MethodTable::Add(const std::string& name, Method method) {
  methods_[Fold(name)] = {name, [m = std::move(method)](const std::vector<CallArg>& args,
                                                        const CallContext&) { return m(args); }};
}

void MethodTable::Add(const std::string& name, ContextMethod method) {
  methods_[Fold(name)] = {name, std::move(method)};
}

Value MethodTable::Invoke(const std::string& method, const std::vector<CallArg>& args) {
  return Invoke(method, args, CallContext{});
}

Value MethodTable::Invoke(const std::string& method, const std::vector<CallArg>& args,
                          const CallContext& context) {
  auto it = methods_.find(Fold(method));
  if (it == methods_.end()) {
    return ResultFailure("server object \"" + objectName_ + "\" has no method \"" + method + "\"",
                         ErrorCode::NotFound);
  }
  try {
    return ResultOk(it->second.second(args, context));
  } catch (const CodedError& e) {
    return ResultFailure(e.what(), e.code());
  } catch (const std::exception& e) {
    return ResultFailure(e.what());
  }
}

std::string MethodTable::MethodName(const std::string& method) const {
  auto it = methods_.find(Fold(method));
  return it == methods_.end() ? std::string() : it->second.first;
}

void ServerRegistry::Register(const std::string& objectName,
                              std::shared_ptr<IServerObject> object) {
  std::lock_guard lock(mutex_);
  objects_[Fold(objectName)] = {objectName, std::move(object)};
}

std::pair<std::string, std::string> ServerRegistry::Names(const std::string& objectName,
                                                          const std::string& method) const {
  std::shared_ptr<IServerObject> object;
  std::pair<std::string, std::string> names;
  {
    std::lock_guard lock(mutex_);
    auto it = objects_.find(Fold(objectName));
    if (it == objects_.end()) return names;
    names.first = it->second.first;
    object = it->second.second;
  }
  names.second = object->MethodName(method);
  return names;
}

namespace {

Value Bounded(Value envelope) {
  const ValueArray& parts = envelope.AsArray();
  if (parts[0].AsBoolean()) return envelope;
  return ResultFailure(BoundedFailureText(parts[1].ToText()), FailureCode(envelope));
}

}  // namespace

Value ServerRegistry::Dispatch(const std::string& objectName, const std::string& method,
                               const std::vector<CallArg>& args, const CallContext& context) const {
  for (size_t i = 0; i < args.size(); ++i) {
    std::string size = OversizedText(args[i].value);
    if (!size.empty())
      return ResultFailure(BoundedFailureText(method) + ": o argumento " + std::to_string(i + 1) +
                               " tem " + size + " bytes; o máximo para um texto é " +
                               std::to_string(kMaxTextArgumentBytes) + ".",
                           ErrorCode::InvalidArgument);
  }
  return Bounded(Call(objectName, method, args, context));
}

Value ServerRegistry::Call(const std::string& objectName, const std::string& method,
                           const std::vector<CallArg>& args, const CallContext& context) const {
  std::shared_ptr<IServerObject> object;
  {
    std::lock_guard lock(mutex_);
    auto it = objects_.find(Fold(objectName));
    if (it != objects_.end()) object = it->second.second;
  }
  if (!object)
    return ResultFailure("unknown server object \"" + objectName + "\"", ErrorCode::NotFound);
  try {
    Value result = object->Invoke(method, args, context);
    if (!IsEnvelope(result)) {
      return ResultFailure("server object \"" + objectName + "\" answered " + method +
                           " with a malformed result");
    }
    return result;
  } catch (const CodedError& e) {
    return ResultFailure(objectName + "." + method + ": " + e.what(), e.code());
  } catch (const std::exception& e) {
    return ResultFailure(objectName + "." + method + ": " + e.what());
  }
}

}  // namespace apura::rpc
