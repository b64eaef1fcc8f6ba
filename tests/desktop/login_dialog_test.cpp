#include "login_dialog_test.h"

#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <stdexcept>

#include "desktop/login_dialog.h"

namespace apura::desktop::test {

namespace {

struct Attempts {
  std::vector<std::pair<std::string, std::string>> seen;
  LoginDialog::Attempt Fn() {
    return [this](const std::string& code, const std::string& password) -> std::string {
      seen.emplace_back(code, password);
      if (password == "unreachable") throw std::runtime_error("cannot reach 127.0.0.1:1");
      return password == "certa" ? "" : "Operador ou senha inválidos.";
    };
  }
};

}  // namespace

void LoginDialogTest::wrongPasswordKeepsTheDialogOpenWithTheServersText() {
  Attempts a;
  LoginDialog dlg("MARIA", a.Fn());
  dlg.show();
  QVERIFY(QTest::qWaitForWindowExposed(&dlg));
  QTest::keyClicks(dlg.PasswordEdit(), "errada");
  QTest::keyClick(dlg.PasswordEdit(), Qt::Key_Return);
  QVERIFY(dlg.isVisible());
  QCOMPARE(dlg.result(), int(QDialog::Rejected));
  QCOMPARE(dlg.Message()->text(), QString("Operador ou senha inválidos."));
  QVERIFY(dlg.Message()->isVisible());
  QVERIFY(dlg.PasswordEdit()->text().isEmpty());
  QCOMPARE(a.seen.size(), size_t(1));
  QCOMPARE(a.seen[0].first, std::string("MARIA"));

  // A server that cannot be reached is said so, not a crash.
  QTest::keyClicks(dlg.PasswordEdit(), "unreachable");
  QTest::keyClick(dlg.PasswordEdit(), Qt::Key_Return);
  QVERIFY(dlg.isVisible());
  QVERIFY(dlg.Message()->text().contains("cannot reach"));

  // No operator: nothing is sent.
  dlg.OperatorEdit()->clear();
  QTest::keyClicks(dlg.PasswordEdit(), "certa");
  dlg.accept();
  QCOMPARE(a.seen.size(), size_t(2));
  QCOMPARE(dlg.Message()->text(), QString("Informe o operador."));
}

void LoginDialogTest::rightPasswordClosesItWithTheOperator() {
  Attempts a;
  LoginDialog dlg("", a.Fn());
  dlg.SetReason("Sessão expirada: faça login de novo.");
  dlg.show();
  QVERIFY(QTest::qWaitForWindowExposed(&dlg));
  QVERIFY(dlg.Message()->isVisible());
  QTest::keyClicks(dlg.OperatorEdit(), "  JOAO ");
  QTest::keyClicks(dlg.PasswordEdit(), "certa");
  QTest::keyClick(dlg.PasswordEdit(), Qt::Key_Return);
  QCOMPARE(dlg.result(), int(QDialog::Accepted));
  QVERIFY(!dlg.isVisible());
  QCOMPARE(dlg.OperatorCode(), std::string("JOAO"));
  QCOMPARE(a.seen.back(), (std::pair<std::string, std::string>("JOAO", "certa")));
}

}  // namespace apura::desktop::test
