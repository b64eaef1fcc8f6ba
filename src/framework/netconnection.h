#pragma once
// The connection component to an application-server object, and the check of
// the result envelope every server method answers.

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "framework/controls.h"
#include "framework/transport.h"
#include "framework/value.h"

namespace apura {

class TNetConnection;

// Makes the transport of a connection when it first opens. The host installs
// the real one at start; tests install a fake.
using TransportFactory = std::function<std::shared_ptr<ITransport>(const TNetConnection&)>;
void SetDefaultTransportFactory(TransportFactory factory);
const TransportFactory& DefaultTransportFactory();

// A failure the server reported, raised where the caller does not show it.
class EServerFailure : public CodedError {
 public:
  explicit EServerFailure(const std::string& text, ErrorCode code = ErrorCode::Internal)
      : CodedError(code, text) {}
};

class TNetConnection : public TComponent {
 public:
  using TComponent::TComponent;
  ~TNetConnection() override;

  std::string ServerName;  // the server object, e.g. "Cmp.rdmCompras"
  std::string Host;
  int Port = 0;
  // True: a failure envelope makes call() raise EServerFailure with the
  // server's text. False: call() hands every envelope back for
  // CheckResultServ.
  bool ThrowException = true;

  // Runs just before the connection opens; typically sets Host and Port.
  TNotifyEvent BeforeConnect, AfterConnect, AfterDisconnect;

  // The transport used from now on; a connection without one takes it from
  // the default factory when it opens.
  void SetTransport(std::shared_ptr<ITransport> transport);
  const std::shared_ptr<ITransport>& Transport() const { return transport_; }

  bool Connected() const;
  // true: BeforeConnect, then the transport connects to Host:Port (a failure
  // propagates, saying the address); nothing when already connected.
  // false: disconnects; nothing when not connected.
  void SetConnected(bool on);

  // Late-bound call of a method of the server object. Answers the result
  // envelope (see ThrowException). Not connected: an error naming the
  // connection, the server object and the method.
  Value call(const std::string& method, std::vector<CallArg> args);

 private:
  std::shared_ptr<ITransport> transport_;
};

// The payload of an ok envelope. A failure envelope: with `show` the server's
// text goes to an error box and the operation ends silently (EAbort);
// without, EServerFailure carries the text. Anything that is not an envelope
// is an error saying what arrived.
Value CheckResultServ(const Value& result, bool show = true, int flags = 0);

}  // namespace apura
