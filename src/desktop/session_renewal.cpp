#include "desktop/session_renewal.h"

#include <QApplication>
#include <QLineEdit>

namespace apura::desktop {

bool IsSessionExpired(const Value& envelope) {
  if (envelope.kind() != Value::Kind::Array) return false;
  const ValueArray& a = envelope.AsArray();
  if (a.size() != 2 || a[0].kind() != Value::Kind::Boolean || a[0].AsBoolean()) return false;
  return a[1].kind() == Value::Kind::Text && a[1].ToText().ends_with(kSessionExpiredText);
}

Value RenewingTransport::Invoke(const std::string& serverObject, const std::string& method,
                                const std::vector<CallArg>& args) {
  Value answer = inner_->Invoke(serverObject, method, args);
  if (!IsSessionExpired(answer) || !renew_) return answer;
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
