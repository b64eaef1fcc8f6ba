#include "desktop/app/launch_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include "desktop/app/language.h"
#include "framework/format.h"

namespace apura::desktop {

namespace {
const char* const kLabels[7] = {"Centro de &compras", "C&ódigo do comprador", "&Nome do comprador",
                                "Entrega &inicial",   "Entrega &final",       "N.º da &apuração",
                                "&Reefetivar (S/N)"};
const char* const kNames[7] = {"centre", "buyerCode", "buyerName", "start",
                               "end",    "tally",     "repeat"};
}  // namespace

LaunchDialog::LaunchDialog(QWidget* parent, std::vector<std::string> initial) : QDialog(parent) {
  setObjectName("launchDialog");
  setWindowTitle(QStringLiteral("Apuração/Efetivação"));
  auto* form = new QFormLayout(this);
  initial.resize(7);
  for (int i = 0; i < 7; ++i) {
    auto* e = new QLineEdit(QString::fromStdString(initial[size_t(i)]), this);
    e->setObjectName(kNames[i]);
    form->addRow(QString::fromUtf8(kLabels[i]), e);
    edits_.push_back(e);
  }
  edits_[3]->setPlaceholderText(DatePlaceholder(CurrentFormat().shortDateFormat));
  edits_[4]->setPlaceholderText(DatePlaceholder(CurrentFormat().shortDateFormat));
  edits_[6]->setMaxLength(1);
  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton(QStringLiteral("Abrir"), QDialogButtonBox::AcceptRole)->setObjectName("Abrir");
  buttons->addButton(QStringLiteral("Cancelar"), QDialogButtonBox::RejectRole)
      ->setObjectName("Cancelar");
  connect(buttons, &QDialogButtonBox::accepted, this, &LaunchDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &LaunchDialog::reject);
  form->addRow(buttons);
}

std::vector<std::string> LaunchDialog::Values() const {
  std::vector<std::string> v;
  for (QLineEdit* e : edits_) v.push_back(e->text().toStdString());
  return v;
}

void LaunchDialog::accept() {
  // The dates are read by the worksheet in the short date format; a typing
  // slip is caught here, where it can still be corrected.
  for (int i : {3, 4}) {
    DateTime d;
    if (!TextToDateTime(edits_[size_t(i)]->text().toStdString(), d)) {
      QMessageBox::warning(this, windowTitle(),
                           QStringLiteral("\"%1\" não é uma data válida (%2).")
                               .arg(edits_[size_t(i)]->text(),
                                    QString::fromStdString(CurrentFormat().shortDateFormat)));
      edits_[size_t(i)]->setFocus();
      return;
    }
  }
  QDialog::accept();
}

}  // namespace apura::desktop
