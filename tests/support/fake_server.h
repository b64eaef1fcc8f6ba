#pragma once
// A scripted application server: every connection gets its own endpoint
// (named after the connection component), every call is recorded, and each
// method answers from its script.
//
// Constructing a FakeServer installs its endpoints as the default transport
// of connections; destroying it puts the previous default back.

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "framework/netconnection.h"
#include "framework/transport.h"

namespace apura::test {

struct RecordedCall {
  std::string connection;  // the endpoint (connection component) name
  std::string object;      // server object
  std::string method;
  std::vector<CallArg> args;
  // "&'001', &'123', 'PRQ'": by-reference marked with '&', texts quoted,
  // numbers and dates in their text form, null as null, packets as
  // <packet N rows>, arrays in brackets.
  std::string ArgsText() const;
  const Value& Arg(size_t i) const;  // fails the test when out of range
};

// One argument as ArgsText writes it.
std::string ArgText(const CallArg& a);
std::string ValueText(const Value& v);

class FakeServer {
 public:
  using Handler = std::function<Value(const RecordedCall& call)>;

  FakeServer();
  ~FakeServer();
  FakeServer(const FakeServer&) = delete;
  FakeServer& operator=(const FakeServer&) = delete;

  // Queued answers of a method, used once each, in order.
  FakeServer& Reply(const std::string& method, Value envelope);
  FakeServer& ReplyOk(const std::string& method, Value payload = Value()) {
    return Reply(method, ResultOk(std::move(payload)));
  }
  FakeServer& ReplyFailure(const std::string& method, std::string text) {
    return Reply(method, ResultFailure(std::move(text)));
  }
  // Answers every call of the method once its queue is used up.
  FakeServer& Handle(const std::string& method, Handler handler);
  // A call the script does not cover answers a failure envelope naming the method.

  // Connecting fails (as an unreachable server) while set.
  bool failConnect = false;

  // The endpoint of a connection, made on first use.
  std::shared_ptr<ITransport> Endpoint(const std::string& connectionName);
  TransportFactory Factory();

  const std::vector<RecordedCall>& Calls() const;
  std::vector<std::string> Methods() const;  // methods called, in order
  int CallCount(const std::string& method) const;
  const RecordedCall* LastCall(const std::string& method) const;  // null when never called
  // Connects and disconnects, of one connection or (empty name) of all.
  int Connects(const std::string& connectionName = {}) const;
  int Disconnects(const std::string& connectionName = {}) const;
  // "connect netX localhost:211", "call netX Obj.Method(args)", "disconnect netX".
  const std::vector<std::string>& Events() const;
  void ClearRecords();

  struct State;

 private:
  std::shared_ptr<State> state_;
  TransportFactory previous_;
};

}  // namespace apura::test
