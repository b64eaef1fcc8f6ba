#include "support/fake_server.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "framework/packet.h"

namespace apura::test {

struct FakeServer::State {
  std::map<std::string, std::deque<Value>> queued;
  std::map<std::string, Handler> handlers;
  std::vector<RecordedCall> calls;
  std::vector<std::string> events;
  std::map<std::string, int> connects, disconnects;
  std::map<std::string, std::weak_ptr<ITransport>> endpoints;  // weak: no cycle with the state
  bool* failConnect = nullptr;
  bool failConnectCopy = false;  // after the server object is gone
};

namespace {

class EndpointTransport : public ITransport {
 public:
  EndpointTransport(std::shared_ptr<FakeServer::State> s, std::string name)
      : state_(std::move(s)), name_(std::move(name)) {}

  void Connect(const std::string& host, int port) override {
    std::string address = host + ":" + std::to_string(port);
    bool fail = state_->failConnect ? *state_->failConnect : state_->failConnectCopy;
    if (fail) {
      state_->events.push_back("connect failed " + name_ + " " + address);
      throw std::runtime_error("Cannot reach the application server at " + address);
    }
    connected_ = true;
    ++state_->connects[name_];
    state_->events.push_back("connect " + name_ + " " + address);
  }
  void Disconnect() override {
    if (!connected_) return;
    connected_ = false;
    ++state_->disconnects[name_];
    state_->events.push_back("disconnect " + name_);
  }
  bool IsConnected() const override { return connected_; }
  Value Invoke(const std::string& serverObject, const std::string& method,
               const std::vector<CallArg>& args) override {
    if (!connected_)
      throw std::runtime_error("FakeServer: " + serverObject + "." + method + " called on " +
                               name_ + " while disconnected");
    RecordedCall call{name_, serverObject, method, args};
    state_->calls.push_back(call);
    state_->events.push_back("call " + name_ + " " + serverObject + "." + method + "(" +
                             call.ArgsText() + ")");
    auto q = state_->queued.find(method);
    if (q != state_->queued.end() && !q->second.empty()) {
      Value v = std::move(q->second.front());
      q->second.pop_front();
      return v;
    }
    auto h = state_->handlers.find(method);
    if (h != state_->handlers.end()) return h->second(call);
    return ResultFailure("FakeServer: no answer scripted for " + serverObject + "." + method);
  }

 private:
  std::shared_ptr<FakeServer::State> state_;
  std::string name_;
  bool connected_ = false;
};

std::shared_ptr<ITransport> EndpointOf(const std::shared_ptr<FakeServer::State>& state,
                                       const std::string& name) {
  auto& slot = state->endpoints[name];
  std::shared_ptr<ITransport> e = slot.lock();
  if (!e) {
    e = std::make_shared<EndpointTransport>(state, name);
    slot = e;
  }
  return e;
}

}  // namespace

std::string ValueText(const Value& v) {
  switch (v.kind()) {
    case Value::Kind::Null:
      return "null";
    case Value::Kind::Boolean:
      return v.AsBoolean() ? "true" : "false";
    case Value::Kind::Text: {
      // Appended, not "'" + text: GCC 12 at -O2 reports a false overlap in
      // the inlined concatenation (-Werror=restrict).
      std::string quoted = "'";
      quoted += v.ToText();
      quoted += "'";
      return quoted;
    }
    case Value::Kind::Packet:
      return "<packet " + std::to_string(v.AsPacket().RowCount()) + " rows>";
    case Value::Kind::Array: {
      std::string out = "[";
      const ValueArray& a = v.AsArray();
      for (size_t i = 0; i < a.size(); ++i) out += (i ? ", " : "") + ValueText(a[i]);
      return out + "]";
    }
    default:
      return v.ToText();
  }
}

std::string ArgText(const CallArg& a) {
  std::string text = a.byRef ? "&" : "";
  text += ValueText(a.value);  // appended for the same GCC 12 false positive
  return text;
}

std::string RecordedCall::ArgsText() const {
  std::string out;
  for (size_t i = 0; i < args.size(); ++i) out += (i ? ", " : "") + ArgText(args[i]);
  return out;
}

const Value& RecordedCall::Arg(size_t i) const {
  static const Value none;
  if (i >= args.size()) {
    ADD_FAILURE() << method << " has " << args.size() << " arguments; asked for argument " << i;
    return none;
  }
  return args[i].value;
}

FakeServer::FakeServer() : state_(std::make_shared<State>()) {
  state_->failConnect = &failConnect;
  previous_ = DefaultTransportFactory();
  SetDefaultTransportFactory(Factory());
}

FakeServer::~FakeServer() {
  state_->failConnectCopy = failConnect;
  state_->failConnect = nullptr;
  SetDefaultTransportFactory(previous_);
}

FakeServer& FakeServer::Reply(const std::string& method, Value envelope) {
  state_->queued[method].push_back(std::move(envelope));
  return *this;
}

FakeServer& FakeServer::Handle(const std::string& method, Handler handler) {
  state_->handlers[method] = std::move(handler);
  return *this;
}

std::shared_ptr<ITransport> FakeServer::Endpoint(const std::string& connectionName) {
  return EndpointOf(state_, connectionName);
}

TransportFactory FakeServer::Factory() {
  // Holds the state, not the server, so connections outliving the server
  // still disconnect cleanly.
  std::weak_ptr<State> weak = state_;
  return [weak](const TNetConnection& c) -> std::shared_ptr<ITransport> {
    auto state = weak.lock();
    if (!state) throw std::runtime_error("FakeServer is gone");
    return EndpointOf(state, c.Name);
  };
}

const std::vector<RecordedCall>& FakeServer::Calls() const {
  return state_->calls;
}

std::vector<std::string> FakeServer::Methods() const {
  std::vector<std::string> out;
  for (const auto& c : state_->calls) out.push_back(c.method);
  return out;
}

int FakeServer::CallCount(const std::string& method) const {
  int n = 0;
  for (const auto& c : state_->calls) n += c.method == method;
  return n;
}

const RecordedCall* FakeServer::LastCall(const std::string& method) const {
  for (auto it = state_->calls.rbegin(); it != state_->calls.rend(); ++it)
    if (it->method == method) return &*it;
  return nullptr;
}

int FakeServer::Connects(const std::string& name) const {
  if (!name.empty()) {
    auto it = state_->connects.find(name);
    return it == state_->connects.end() ? 0 : it->second;
  }
  int n = 0;
  for (const auto& [k, v] : state_->connects) n += v;
  return n;
}

int FakeServer::Disconnects(const std::string& name) const {
  if (!name.empty()) {
    auto it = state_->disconnects.find(name);
    return it == state_->disconnects.end() ? 0 : it->second;
  }
  int n = 0;
  for (const auto& [k, v] : state_->disconnects) n += v;
  return n;
}

const std::vector<std::string>& FakeServer::Events() const {
  return state_->events;
}

void FakeServer::ClearRecords() {
  state_->calls.clear();
  state_->events.clear();
  state_->connects.clear();
  state_->disconnects.clear();
}

}  // namespace apura::test
