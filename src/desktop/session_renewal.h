#pragma once
// Sessions run out while the host is open (the server's lifetime, a restart of
// the server). The host then asks for the password again and repeats the call
// in the new session, instead of failing whatever screen made it.

#include <functional>
#include <memory>
#include <string>

#include "desktop/login_dialog.h"
#include "framework/transport.h"

class QWidget;

namespace apura::desktop {

// What the server answers a call whose session ran out; objects behind a guard
// put their name and the method before it.
inline constexpr const char* kSessionExpiredText = "Sessão expirada: faça login de novo.";

// True for a failure envelope saying the session expired.
bool IsSessionExpired(const Value& envelope);

// The transport of the host's server calls. When a call is answered that the
// session expired, `renew` is asked for a new session and the call is made once
// more; when no new session comes (the operator gave up), the first answer
// stands.
class RenewingTransport : public ITransport {
 public:
  // Opens a new session that the inner transport sends from then on; false
  // when there is none.
  using Renew = std::function<bool()>;
  RenewingTransport(std::shared_ptr<ITransport> inner, Renew renew)
      : inner_(std::move(inner)), renew_(std::move(renew)) {}

  void Connect(const std::string& host, int port) override { inner_->Connect(host, port); }
  void Disconnect() override { inner_->Disconnect(); }
  bool IsConnected() const override { return inner_->IsConnected(); }
  Value Invoke(const std::string& serverObject, const std::string& method,
               const std::vector<CallArg>& args) override;

 private:
  std::shared_ptr<ITransport> inner_;
  Renew renew_;
};

// The login dialog again, saying why, for the operator already logged in (the
// screens open belong to them, so the code cannot change). True when the
// login succeeded.
bool LoginAgain(const std::string& operatorCode, LoginDialog::Attempt attempt,
                QWidget* parent = nullptr);

}  // namespace apura::desktop
