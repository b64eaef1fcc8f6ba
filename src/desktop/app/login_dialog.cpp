#include "desktop/app/login_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace apura::desktop {

LoginDialog::LoginDialog(const std::string& operatorCode, Attempt attempt, QWidget* parent)
    : QDialog(parent), attempt_(std::move(attempt)) {
  setWindowTitle("Apura - Login");
  setObjectName("dlgLogin");
  operator_ = new QLineEdit(QString::fromStdString(operatorCode), this);
  operator_->setObjectName("edtOperador");
  password_ = new QLineEdit(this);
  password_->setObjectName("edtSenha");
  password_->setEchoMode(QLineEdit::Password);
  message_ = new QLabel(this);
  message_->setObjectName("lblMensagem");
  message_->setWordWrap(true);
  message_->hide();
  auto* form = new QFormLayout;
  form->addRow("Operador", operator_);
  form->addRow("Senha", password_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setObjectName("btnOk");
  buttons->button(QDialogButtonBox::Cancel)->setObjectName("btnCancelar");
  // Whether or not Qt's translations are installed.
  buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
  buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Cancelar"));
  connect(buttons, &QDialogButtonBox::accepted, this, &LoginDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &LoginDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(message_);
  layout->addLayout(form);
  layout->addWidget(buttons);
  (operatorCode.empty() ? operator_ : password_)->setFocus();
}

std::string LoginDialog::OperatorCode() const {
  return operator_->text().trimmed().toStdString();
}

void LoginDialog::SetReason(const QString& reason) {
  message_->setText(reason);
  message_->setVisible(!reason.isEmpty());
}

void LoginDialog::accept() {
  const std::string code = OperatorCode();
  if (code.empty()) {
    SetReason("Informe o operador.");
    operator_->setFocus();
    return;
  }
  std::string failure;
  try {
    failure = attempt_(code, password_->text().toStdString());
  } catch (const std::exception& e) {
    failure = e.what();
  }
  // The typed password goes either way: kept in no widget longer than needed.
  password_->clear();
  if (!failure.empty()) {
    SetReason(QString::fromStdString(failure));
    password_->setFocus();
    return;
  }
  QDialog::accept();
}

}  // namespace apura::desktop
