#pragma once
// Asks for the operator and password before anything reaches the server, and
// stays open with the server's answer until a login succeeds or the user gives up.

#include <QDialog>
#include <functional>
#include <string>

class QLabel;
class QLineEdit;

namespace apura::desktop {

class LoginDialog : public QDialog {
  Q_OBJECT
 public:
  // Tries a login; answers the text to show when it failed, empty when it
  // succeeded (the caller keeps the session).
  using Attempt =
      std::function<std::string(const std::string& operatorCode, const std::string& password)>;
  LoginDialog(const std::string& operatorCode, Attempt attempt, QWidget* parent = nullptr);

  // The operator who logged in (after exec() answered Accepted).
  std::string OperatorCode() const;
  // Says why the dialog shows again (an expired session) above the fields.
  void SetReason(const QString& reason);

  QLineEdit* OperatorEdit() const { return operator_; }
  QLineEdit* PasswordEdit() const { return password_; }
  QLabel* Message() const { return message_; }

 public slots:
  void accept() override;

 private:
  Attempt attempt_;
  QLineEdit* operator_;
  QLineEdit* password_;
  QLabel* message_;
};

}  // namespace apura::desktop
