#include "framework/netconnection.h"

#include "framework/errors.h"
#include "framework/host.h"

namespace apura {

namespace {
TransportFactory& FactorySlot() {
  static TransportFactory factory;
  return factory;
}

std::string Label(const TNetConnection& c) {
  return (c.Name.empty() ? std::string("(unnamed connection)") : c.Name) + " (" +
         (c.ServerName.empty() ? std::string("no server object") : c.ServerName) + ")";
}
}  // namespace

void SetDefaultTransportFactory(TransportFactory factory) {
  FactorySlot() = std::move(factory);
}
const TransportFactory& DefaultTransportFactory() {
  return FactorySlot();
}

TNetConnection::~TNetConnection() {
  // Leaves the server as it found it; a failing disconnect must not escape a destructor.
  try {
    if (transport_ && transport_->IsConnected()) transport_->Disconnect();
  } catch (...) {
  }
}

void TNetConnection::SetTransport(std::shared_ptr<ITransport> transport) {
  transport_ = std::move(transport);
}

bool TNetConnection::Connected() const {
  return transport_ && transport_->IsConnected();
}

void TNetConnection::SetConnected(bool on) {
  if (on == Connected()) return;
  if (on) {
    if (BeforeConnect) BeforeConnect(*this);
    if (!transport_) {
      const TransportFactory& factory = DefaultTransportFactory();
      if (!factory)
        throw std::runtime_error("Connection " + Label(*this) +
                                 " has no transport and no default transport is installed");
      transport_ = factory(*this);
      if (!transport_)
        throw std::runtime_error("The transport factory gave no transport for " + Label(*this));
    }
    transport_->Connect(Host, Port);
    Changed("Connected");
    if (AfterConnect) AfterConnect(*this);
  } else {
    transport_->Disconnect();
    Changed("Connected");
    if (AfterDisconnect) AfterDisconnect(*this);
  }
}

Value TNetConnection::call(const std::string& method, std::vector<CallArg> args) {
  if (!Connected())
    throw std::runtime_error("Connection " + Label(*this) + " is not open: cannot call " + method);
  Value result = transport_->Invoke(ServerName, method, args);
  if (ThrowException && result.kind() == Value::Kind::Array) {
    const ValueArray& a = result.AsArray();
    if (a.size() >= 2 && a[0].kind() == Value::Kind::Boolean && !a[0].AsBoolean())
      throw EServerFailure(
          a[1].kind() == Value::Kind::Text ? a[1].ToText() : ServerName + "." + method + " failed",
          FailureCode(result));
  }
  return result;
}

Value CheckResultServ(const Value& result, bool show, int flags) {
  (void)flags;
  if (result.kind() != Value::Kind::Array)
    throw std::runtime_error(std::string("Malformed server result: expected a [status, payload] "
                                         "array, got ") +
                             KindName(result.kind()));
  const ValueArray& a = result.AsArray();
  // A failure carries its code as a third element.
  const size_t expected =
      a.size() == 3 && a[0].kind() == Value::Kind::Boolean && !a[0].AsBoolean() ? 3 : 2;
  if (a.size() != expected)
    throw std::runtime_error("Malformed server result: expected 2 elements, got " +
                             std::to_string(a.size()));
  if (a[0].kind() != Value::Kind::Boolean)
    throw std::runtime_error(std::string("Malformed server result: status is ") +
                             KindName(a[0].kind()) + ", not a boolean");
  if (a[0].AsBoolean()) return a[1];
  if (a[1].kind() != Value::Kind::Text && !a[1].IsNull())
    throw std::runtime_error(std::string("Malformed server result: failure text is ") +
                             KindName(a[1].kind()));
  std::string text = a[1].ToText();
  if (!show) throw EServerFailure(text, FailureCode(result));
  Host().MessageBox(text, {}, TMsgDlgType::mtError, mbOK, 0);
  Abort();
}

}  // namespace apura
