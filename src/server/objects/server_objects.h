#pragma once
// The two application-server objects the worksheet calls, and the in-process
// transport that dispatches to them without a network.

#include <memory>
#include <string>

#include "contract/objects.h"
#include "framework/transport.h"
#include "rpc/dispatch.h"
#include "server/auth/operators.h"
#include "server/services/tally_service.h"

namespace apura::server {

using contract::kPurchasingObject;
using contract::kSessionObject;
using contract::kWorksheetObject;

// Every method of these objects needs the caller's session, and checks the
// centres, branches, buyer and operator it names against it.
std::shared_ptr<rpc::IServerObject> MakeWorksheetObject(TallyService& service, Sessions& sessions);
std::shared_ptr<rpc::IServerObject> MakePurchasingObject(TallyService& service, Sessions& sessions);
std::shared_ptr<rpc::IServerObject> MakeSessionObject(Sessions& sessions);

// The object itself without sessions (tests of it alone), or behind a guard
// that refuses any call without a live session.
std::shared_ptr<rpc::IServerObject> RequiringSession(std::shared_ptr<rpc::IServerObject> object,
                                                     Sessions* sessions);

// The caller's session and the checks of what a call names against it, for
// every object that serves a centre's tallies. Each refusal is a ServerError
// that names the method and the code refused.
Session Caller(Sessions& sessions, const rpc::CallContext& ctx);
void CheckCentre(const Session& s, const std::string& centre, const char* method);
void CheckBranch(const Session& s, const std::string& branch, const char* method);
// The operator a call names is the logged-in one.
void CheckOperator(const Session& s, const std::string& code, const char* method);
// The buyer a call names is the tally's own buyer, or the logged-in operator
// buying for it; AFs are never issued in the name of anyone else.
void CheckBuyer(TallyService& service, const Session& s, const std::string& buyer,
                const std::string& tally, const char* method);

// The worksheet's, purchasing's, session and AF analysis' objects, registered
// under their names.
void RegisterServerObjects(rpc::ServerRegistry& registry, TallyService& service,
                           Sessions& sessions);

// A transport that calls the registry directly: for tests and for hosts that run
// the server inside their own process. Connect only records the address.
class InProcessTransport : public ITransport {
 public:
  explicit InProcessTransport(const rpc::ServerRegistry& registry) : registry_(registry) {}
  void Connect(const std::string& host, int port) override;
  void Disconnect() override { connected_ = false; }
  // Sent with every call, as the gRPC client sends it in the call's metadata.
  void SetSessionToken(std::string token) { token_ = std::move(token); }
  bool IsConnected() const override { return connected_; }
  Value Invoke(const std::string& serverObject, const std::string& method,
               const std::vector<CallArg>& args) override;

 private:
  const rpc::ServerRegistry& registry_;
  bool connected_ = false;
  std::string address_;
  std::string token_;
};

}  // namespace apura::server
