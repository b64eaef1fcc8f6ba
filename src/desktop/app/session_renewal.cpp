#include "desktop/app/session_renewal.h"

#include <QApplication>
#include <QLineEdit>

#include "contract/objects.h"

namespace apura::desktop {

bool IsSessionExpired(const Value& envelope) {
  return FailureCode(envelope) == ErrorCode::Unauthenticated;
}

Value RenewingTransport::Invoke(const std::string& serverObject, const std::string& method,
                                const std::vector<CallArg>& args) {
  Value answer = inner_->Invoke(serverObject, method, args);
  if (!IsSessionExpired(answer) || !renew_ || serverObject == contract::kSessionObject)
    return answer;
  // A call made while the dialog is up (a timer's) does not ask a second time.
  static bool asking = false;
  if (asking) return answer;
  struct Asking {
    Asking() { asking = true; }
    ~Asking() { asking = false; }
  } scope;
  if (!renew_()) return answer;
  return inner_->Invoke(serverObject, method, args);
}

bool LoginAgain(const std::string& operatorCode, LoginDialog::Attempt attempt, QWidget* parent) {
  LoginDialog dialog(operatorCode, std::move(attempt),
                     parent ? parent : QApplication::activeWindow());
  dialog.SetReason(QString::fromUtf8(kSessionExpiredText));
  dialog.OperatorEdit()->setReadOnly(true);
  return dialog.exec() == QDialog::Accepted;
}

}  // namespace apura::desktop
