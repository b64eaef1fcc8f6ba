#pragma once
// Sessions run out while the host is open (the server's lifetime, a restart of
// the server). The host then asks for the password again and repeats the call
// in the new session, instead of failing whatever screen made it.

#include <functional>
#include <memory>
#include <string>

#include "desktop/app/login_dialog.h"
#include "framework/transport.h"

class QWidget;

namespace apura::desktop {

// Why the login dialog comes back by itself.
inline constexpr const char* kSessionExpiredText = "Sessão expirada: faça login de novo.";

// True for a failure envelope whose code says the call had no live session
// (expired, ended, or unknown to the server after a restart), whatever its
// text says.
bool IsSessionExpired(const Value& envelope);

// The transport of the host's server calls. When a call is answered that its
// session is gone, `renew` is asked for a new session and the call is made once
// more; when no new session comes (the operator gave up), the first answer
// stands. Logging in itself is never renewed.
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
